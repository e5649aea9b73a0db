#pragma once

#include "platform/file_url.hpp"
#include "platform/unique_fd.hpp"

namespace quillmark::platform {

// An advisory lock file shared between processes. The file itself stays in
// place for good; only the lock on the open file matters.
class LockFile {
public:
    // Opens the file read-write, creating it with mode 0600 when it is
    // missing, and never through a final symbolic link. The descriptor is
    // closed on exec, so no process started later inherits the lock. Throws a
    // "posix" error carrying errno.
    static LockFile open(const FileURL& url);

    LockFile(LockFile&&) noexcept = default;
    LockFile& operator=(LockFile&&) = delete;
    ~LockFile() { release(); }

    // Takes the exclusive lock without waiting. Throws a "posix" error
    // carrying errno (EWOULDBLOCK when another open file holds it).
    void lockExclusively();
    // Unlocks and closes; further calls do nothing.
    void release();

    int descriptor() const { return descriptor_.get(); }

private:
    LockFile(UniqueFd descriptor, std::string path)
        : descriptor_(std::move(descriptor))
        , path_(std::move(path))
    {
    }

    UniqueFd descriptor_;
    std::string path_;
};

} // namespace quillmark::platform
