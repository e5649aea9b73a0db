#include "platform/files/lock_file.hpp"

#include "platform/error.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>

namespace quillmark::platform {

LockFile LockFile::open(const FileURL& url)
{
    UniqueFd descriptor(::open(url.path().c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR));
    if (!descriptor)
        throw posixError(errno, "open the lock file", url.path());
    return LockFile(std::move(descriptor), url.path());
}

void LockFile::lockExclusively()
{
    if (::flock(descriptor_.get(), LOCK_EX | LOCK_NB) != 0)
        throw posixError(errno, "lock", path_);
}

void LockFile::release()
{
    if (!descriptor_)
        return;
    // Unlocked before the close, so that the lock ends here even if a
    // duplicate of the descriptor lived on somewhere.
    ::flock(descriptor_.get(), LOCK_UN);
    descriptor_.reset();
}

} // namespace quillmark::platform
