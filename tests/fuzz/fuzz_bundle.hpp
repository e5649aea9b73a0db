#pragma once

#include <string>
#include <string_view>

namespace quillmark::fuzzing {

// A folder of its own under the temporary folder for one fuzzing process,
// removed with everything in it when the process ends normally. Inputs are
// written here as real files, so the harnesses read them the way the
// installer reads a bundle.
class FuzzFolder {
public:
    FuzzFolder();
    ~FuzzFolder();
    FuzzFolder(const FuzzFolder&) = delete;
    FuzzFolder& operator=(const FuzzFolder&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Replaces the file at `path` with exactly `bytes`, making its folders first.
void replaceFile(const std::string& path, std::string_view bytes, unsigned mode = 0644);
// Removes `path` and everything under it, never following links.
void removeTree(const std::string& path);

} // namespace quillmark::fuzzing
