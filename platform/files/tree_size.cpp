#include "platform/files/tree_size.hpp"

#include "platform/error.hpp"
#include "platform/unique_fd.hpp"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>

namespace quillmark::platform {
namespace {

std::uint64_t roundedUp(std::uint64_t size, std::uint64_t blockSize)
{
    return (size + blockSize - 1) / blockSize * blockSize;
}

// Walks by descriptor, relative to each folder, so a link met on the way is
// measured as a link and never entered.
std::uint64_t folderSize(int folder, const std::string& path, std::uint64_t blockSize)
{
    int listingFd = ::dup(folder);
    if (listingFd < 0)
        throw fileError(errno, FileAccess::reading, "read the folder", path);
    DIR* listing = ::fdopendir(listingFd);
    if (listing == nullptr) {
        int error = errno;
        ::close(listingFd);
        throw fileError(error, FileAccess::reading, "read the folder", path);
    }
    std::uint64_t total = blockSize;
    try {
        errno = 0;
        while (const dirent* entry = ::readdir(listing)) {
            std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            std::string itemPath = path + "/" + name;
            struct stat status {};
            if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
                throw fileError(errno, FileAccess::reading, "read the attributes of", itemPath);
            if (S_ISDIR(status.st_mode)) {
                UniqueFd child(::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
                if (!child)
                    throw fileError(errno, FileAccess::reading, "open the folder", itemPath);
                total += folderSize(child.get(), itemPath, blockSize);
            } else if (S_ISREG(status.st_mode)) {
                total += roundedUp(static_cast<std::uint64_t>(status.st_size), blockSize);
            } else {
                total += blockSize;
            }
            errno = 0;
        }
        if (errno != 0)
            throw fileError(errno, FileAccess::reading, "read the folder", path);
    } catch (...) {
        ::closedir(listing);
        throw;
    }
    ::closedir(listing);
    return total;
}

} // namespace

std::uint64_t treeSize(const FileURL& url, std::uint64_t blockSize)
{
    if (blockSize == 0)
        blockSize = 1;
    struct stat status {};
    if (::lstat(url.path().c_str(), &status) != 0)
        throw fileError(errno, FileAccess::reading, "read the attributes of", url.path());
    if (!S_ISDIR(status.st_mode))
        return S_ISREG(status.st_mode) ? roundedUp(static_cast<std::uint64_t>(status.st_size), blockSize) : blockSize;
    UniqueFd folder(::open(url.path().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder)
        throw fileError(errno, FileAccess::reading, "open the folder", url.path());
    return folderSize(folder.get(), url.path(), blockSize);
}

} // namespace quillmark::platform
