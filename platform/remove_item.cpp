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

constexpr std::string_view action = "remove";

// Removes `name` inside the open folder `parent`. Every step works relative
// to an open folder and never follows a link, so a link swapped in anywhere
// in the tree is removed as a link and nothing outside the tree is touched.
void removeEntry(int parent, const std::string& name, const std::string& path)
{
    struct stat status {};
    if (::fstatat(parent, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        throw fileError(errno, FileAccess::writing, action, path);
    if (S_ISDIR(status.st_mode)) {
        UniqueFd folder(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!folder)
            throw fileError(errno, FileAccess::writing, action, path);
        for (const auto& child : namesInFolder(folder.get(), path))
            removeEntry(folder.get(), child, childPath(path, child));
        if (::unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0)
            throw fileError(errno, FileAccess::writing, action, path);
        return;
    }
    if (::unlinkat(parent, name.c_str(), 0) != 0)
        throw fileError(errno, FileAccess::writing, action, path);
}

} // namespace

void SystemFileManager::removeItem(const FileURL& url) const
{
    const std::string& path = url.path();
    if (path == "/")
        throw fileError(EBUSY, FileAccess::writing, action, path);
    auto parentPath = url.deletingLastComponent().path();
    UniqueFd parent(::open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent)
        throw fileError(errno, FileAccess::writing, action, path);
    removeEntry(parent.get(), url.lastComponent(), path);
}

} // namespace quillmark::platform
