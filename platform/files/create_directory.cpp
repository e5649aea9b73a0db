#include "platform/files/system_file_manager.hpp"

#include "platform/error.hpp"
#include "platform/unique_fd.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace quillmark::platform {
namespace {

constexpr std::string_view action = "create the folder";

bool isExistingFolder(const std::string& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// Errors name the folder the caller asked for (`requested`), which is what
// the user knows about.
void createParents(const FileURL& url, const std::string& requested)
{
    if (isExistingFolder(url.path()))
        return;
    auto parent = url.deletingLastComponent();
    if (parent.path() != url.path())
        createParents(parent, requested);
    if (::mkdir(url.path().c_str(), 0777) == 0)
        return;
    // Another process may create the same folder meanwhile; that is fine.
    if (errno == EEXIST && isExistingFolder(url.path()))
        return;
    throw fileError(errno == EEXIST ? ENOTDIR : errno, FileAccess::writing, action, requested);
}

} // namespace

void SystemFileManager::createDirectory(const FileURL& url, MissingParents parents, std::optional<unsigned> permissions) const
{
    const std::string& path = url.path();
    if (parents == MissingParents::create) {
        if (isExistingFolder(path))
            return;
        auto parent = url.deletingLastComponent();
        if (parent.path() != path)
            createParents(parent, path);
    }

    // With exact permissions the folder is created private and then given its
    // mode, so that nobody can step in between and the umask cannot narrow
    // what the caller asked for. Without, the umask decides as usual.
    if (::mkdir(path.c_str(), permissions ? 0700 : 0777) != 0) {
        if (errno == EEXIST && parents == MissingParents::create && isExistingFolder(path))
            return;
        throw fileError(errno, FileAccess::writing, action, path);
    }
    if (!permissions)
        return;
    UniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder || ::fchmod(folder.get(), static_cast<mode_t>(*permissions)) != 0)
        throw fileError(errno, FileAccess::writing, action, path);
}

} // namespace quillmark::platform
