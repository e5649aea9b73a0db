#include "platform/files/tree_size.hpp"

#include "platform/error.hpp"

#include <cerrno>
#include <ftw.h>
#include <string>
#include <sys/stat.h>

namespace quillmark::platform {
namespace {

// nftw passes nothing of the caller's to its callback; the walk is
// synchronous, so the sum lives on the walking thread.
struct Walk {
    std::uint64_t blockSize = 1;
    std::uint64_t total = 0;
    int error = 0;
    std::string failedPath;
};
thread_local Walk* current = nullptr;

std::uint64_t roundedUp(std::uint64_t size, std::uint64_t blockSize)
{
    return (size + blockSize - 1) / blockSize * blockSize;
}

int count(const char* path, const struct stat* status, int type, FTW*)
{
    auto& walk = *current;
    switch (type) {
    case FTW_DNR:
    case FTW_NS:
        walk.error = errno != 0 ? errno : EACCES;
        walk.failedPath = path;
        return 1;
    case FTW_F:
        walk.total += S_ISREG(status->st_mode) ? roundedUp(static_cast<std::uint64_t>(status->st_size), walk.blockSize)
                                               : walk.blockSize;
        return 0;
    default:
        // Folders and links: a block each.
        walk.total += walk.blockSize;
        return 0;
    }
}

} // namespace

std::uint64_t treeSize(const FileURL& url, std::uint64_t blockSize)
{
    Walk walk;
    walk.blockSize = blockSize == 0 ? 1 : blockSize;
    current = &walk;
    // FTW_PHYS: links are counted, never followed. A few descriptors at
    // most, however deep the tree: nftw closes and reopens folders beyond that.
    int result = ::nftw(url.path().c_str(), count, 16, FTW_PHYS);
    current = nullptr;
    if (result < 0)
        throw fileError(errno, FileAccess::reading, "measure", url.path());
    if (walk.error != 0)
        throw fileError(walk.error, FileAccess::reading, "measure", walk.failedPath);
    return walk.total;
}

} // namespace quillmark::platform
