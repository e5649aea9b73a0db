#pragma once

#include "platform/file_url.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace quillmark::platform {

enum class FileType { regular, directory, symbolicLink, other };

// What the file system says about an item itself (a final symbolic link is
// not followed). A field the file system did not report stays empty.
struct ItemAttributes {
    std::optional<FileType> type;
    std::optional<std::uint64_t> fileSystemNumber;
    std::optional<std::uint64_t> fileNumber;
};

// The file operations the engine performs. Every failure is thrown as a
// platform::Error in the "file" domain. The engine holds one through a shared
// pointer, so tests can hand it a wrapper that makes chosen operations fail.
class FileManager {
public:
    virtual ~FileManager() = default;

    // The item's own attributes; throws when they cannot be read.
    virtual ItemAttributes attributesOfItem(const FileURL& url) const = 0;
    // Whether the item is a folder, following a final link; throws when the
    // question cannot be answered (nothing there, no permission).
    virtual bool isDirectory(const FileURL& url) const = 0;
    // Whether anything exists at the path, following links; a dangling link is nothing.
    virtual bool fileExists(const FileURL& url) const = 0;
    // Whether the path leads to a regular file this process may execute.
    virtual bool isExecutableFile(const FileURL& url) const = 0;
    // The whole content of a file; a file of more than 64 MB is refused as
    // too large (readTooLarge).
    virtual std::string contentsOfFile(const FileURL& url) const = 0;

    virtual FileURL homeDirectoryForCurrentUser() const = 0;
};

// The file manager that works on the real file system, shared by everyone.
std::shared_ptr<const FileManager> systemFileManager();

} // namespace quillmark::platform
