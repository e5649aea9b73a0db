#pragma once

#include "platform/file_manager.hpp"

namespace quillmark::platform {

// The real file system. Tests derive from it to override the operations they
// want to fail and keep the rest real.
class SystemFileManager : public FileManager {
public:
    ItemAttributes attributesOfItem(const FileURL& url) const override;
    bool isDirectory(const FileURL& url) const override;
    bool fileExists(const FileURL& url) const override;
    bool isExecutableFile(const FileURL& url) const override;
    std::string contentsOfFile(const FileURL& url) const override;
    FileURL homeDirectoryForCurrentUser() const override;
};

} // namespace quillmark::platform
