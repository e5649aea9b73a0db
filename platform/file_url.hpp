#pragma once

#include <string>
#include <string_view>

namespace quillmark::platform {

// A location in the file system: an absolute path and whether it names a folder.
// The folder flag only records how the URL was made; it is not read from disk.
class FileURL {
public:
    FileURL(std::string absolutePath, bool isDirectory = false);

    // The path without a trailing slash, except for the root "/" itself.
    const std::string& path() const { return path_; }
    bool isDirectory() const { return isDirectory_; }
    std::string lastComponent() const;

    // "." and ".." removed lexically; symbolic links are not looked at.
    FileURL standardized() const;
    // Every symbolic link on the path resolved, as far as the path exists;
    // the part that does not exist is kept as written.
    FileURL resolvingSymlinks() const;

    FileURL appendingDirectory(std::string_view component) const;
    FileURL appendingFile(std::string_view component) const;
    FileURL deletingLastComponent() const;

    friend bool operator==(const FileURL&, const FileURL&) = default;

private:
    std::string path_;
    bool isDirectory_;
};

} // namespace quillmark::platform
