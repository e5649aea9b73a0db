#include "platform/files/system_file_manager.hpp"

#include "platform/error.hpp"
#include "platform/unique_fd.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillmark::platform {
namespace {

constexpr std::string_view action = "finish writing";

} // namespace

void SystemFileManager::synchronize(const FileURL& url, SyncScope scope) const
{
    const std::string& path = url.path();
    auto parentPath = url.deletingLastComponent().path();
    UniqueFd parent(::open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent)
        throw fileError(errno, FileAccess::writing, action, path);
    if (path == "/") {
        if (::fsync(parent.get()) != 0)
            throw fileError(errno, FileAccess::writing, action, path);
        return;
    }
    auto name = url.lastComponent();

    struct stat status {};
    if (::fstatat(parent.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        throw fileError(errno, FileAccess::writing, action, path);
    // A link or any other kind of item cannot be opened without following
    // it or disturbing it; its name and contents live in its folder.
    bool isFolder = S_ISDIR(status.st_mode);
    if (!isFolder && !S_ISREG(status.st_mode))
        return;
    UniqueFd item(::openat(parent.get(), name.c_str(),
        O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | (isFolder ? O_DIRECTORY : 0)));
    if (!item)
        throw fileError(errno, FileAccess::writing, action, path);

    // A whole tree goes out with one sync of its volume rather than an fsync
    // per item: each fsync ends with a flush of the device's cache, and an
    // application of thousands of files then spends seconds in flushes that
    // one sync of the volume does once. The price is that the volume's
    // other pending writes go out too, which they would have soon anyway.
    // Since Linux 5.8 the call also reports the volume's write errors.
    int synced = scope == SyncScope::itemAndContents ? ::syncfs(item.get()) : ::fsync(item.get());
    if (synced != 0)
        throw fileError(errno, FileAccess::writing, action, path);
}

} // namespace quillmark::platform
