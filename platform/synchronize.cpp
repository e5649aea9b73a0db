#include "platform/system_file_manager.hpp"

#include "platform/error.hpp"
#include "platform/folder_listing.hpp"
#include "platform/unique_fd.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillmark::platform {
namespace {

constexpr std::string_view action = "finish writing";

void synchronizeEntry(int parent, const std::string& name, const std::string& path, SyncScope scope)
{
    struct stat status {};
    if (::fstatat(parent, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        throw fileError(errno, FileAccess::writing, action, path);
    // A link (or any other kind of item) cannot be opened without following
    // it or disturbing it; its name and contents live in its folder, which the
    // caller syncs.
    bool isFolder = S_ISDIR(status.st_mode);
    if (!isFolder && !S_ISREG(status.st_mode))
        return;
    UniqueFd item(::openat(parent, name.c_str(),
        O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | (isFolder ? O_DIRECTORY : 0)));
    if (!item)
        throw fileError(errno, FileAccess::writing, action, path);
    if (isFolder && scope == SyncScope::itemAndContents) {
        for (const auto& child : namesInFolder(item.get(), path))
            synchronizeEntry(item.get(), child, childPath(path, child), scope);
    }
    // A folder is synced after everything in it, so that once its names are
    // on the disk, so is whatever they name.
    if (::fsync(item.get()) != 0)
        throw fileError(errno, FileAccess::writing, action, path);
}

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
    synchronizeEntry(parent.get(), url.lastComponent(), path, scope);
}

} // namespace quillmark::platform
