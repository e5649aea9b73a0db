#pragma once

#include "platform/file_url.hpp"

#include <string>
#include <string_view>

namespace quillmark::testing {

// A fresh folder under the system's temporary folder, removed with all it
// holds when the object goes away.
class TemporaryFolder {
public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const platform::FileURL& url() const { return url_; }
    std::string path(std::string_view relative = {}) const;

private:
    platform::FileURL url_;
};

// Small file-system helpers for building fixtures; each fails the test
// through an exception when the system refuses.
void writeFile(const std::string& path, std::string_view contents, unsigned mode = 0644);
void makeFolder(const std::string& path);
void makeLink(const std::string& target, const std::string& path);
std::string readFile(const std::string& path);

} // namespace quillmark::testing
