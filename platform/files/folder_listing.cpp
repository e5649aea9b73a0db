#include "platform/files/folder_listing.hpp"

#include "platform/error.hpp"
#include "platform/files/system_file_manager.hpp"
#include "platform/unique_fd.hpp"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace quillmark::platform {
namespace {

struct FolderStreamCloser {
    void operator()(DIR* stream) const { ::closedir(stream); }
};

} // namespace

std::vector<std::string> namesInFolder(int folder, const std::string& path)
{
    // closedir closes the descriptor it was given, so hand it a duplicate.
    int duplicate = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    if (duplicate < 0)
        throw fileError(errno, FileAccess::reading, "list the contents of", path);
    std::unique_ptr<DIR, FolderStreamCloser> stream(::fdopendir(duplicate));
    if (!stream) {
        int number = errno;
        ::close(duplicate);
        throw fileError(number, FileAccess::reading, "list the contents of", path);
    }
    // The duplicate shares its offset with `folder`; start from the beginning
    // whatever an earlier listing left behind.
    ::rewinddir(stream.get());

    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(stream.get());
        if (entry == nullptr) {
            if (errno != 0)
                throw fileError(errno, FileAccess::reading, "list the contents of", path);
            return names;
        }
        std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
}

std::string childPath(const std::string& folderPath, std::string_view name)
{
    std::string path = folderPath;
    if (path.empty() || path.back() != '/')
        path += '/';
    path += name;
    return path;
}

std::vector<std::string> SystemFileManager::contentsOfDirectory(const FileURL& url) const
{
    UniqueFd folder(::open(url.path().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder)
        throw fileError(errno, FileAccess::reading, "list the contents of", url.path());
    return namesInFolder(folder.get(), url.path());
}

} // namespace quillmark::platform
