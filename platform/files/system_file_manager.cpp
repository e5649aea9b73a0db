#include "platform/files/system_file_manager.hpp"

#include "platform/error.hpp"
#include "platform/unique_fd.hpp"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quillmark::platform {
namespace {

// Whole-file reads are for property lists and seal files, which are small; a
// bundle that names a huge (or sparse) file there must not exhaust memory.
constexpr std::uint64_t maximumWholeFileSize = 64 * 1024 * 1024;

FileType fileTypeOf(mode_t mode)
{
    if (S_ISREG(mode))
        return FileType::regular;
    if (S_ISDIR(mode))
        return FileType::directory;
    if (S_ISLNK(mode))
        return FileType::symbolicLink;
    return FileType::other;
}

} // namespace

ItemAttributes SystemFileManager::attributesOfItem(const FileURL& url) const
{
    struct stat status {};
    if (::lstat(url.path().c_str(), &status) != 0)
        throw fileError(errno, FileAccess::reading, "read the attributes of", url.path());
    return ItemAttributes {
        .type = fileTypeOf(status.st_mode),
        .fileSystemNumber = static_cast<std::uint64_t>(status.st_dev),
        .fileNumber = static_cast<std::uint64_t>(status.st_ino),
    };
}

bool SystemFileManager::isDirectory(const FileURL& url) const
{
    struct stat status {};
    if (::stat(url.path().c_str(), &status) != 0)
        throw fileError(errno, FileAccess::reading, "read the kind of", url.path());
    return S_ISDIR(status.st_mode);
}

bool SystemFileManager::fileExists(const FileURL& url) const
{
    struct stat status {};
    return ::stat(url.path().c_str(), &status) == 0;
}

bool SystemFileManager::isExecutableFile(const FileURL& url) const
{
    struct stat status {};
    if (::stat(url.path().c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    // Root may execute anything with an execute bit; AT_EACCESS asks for the
    // effective user, which is who would launch the application.
    return ::faccessat(AT_FDCWD, url.path().c_str(), X_OK, AT_EACCESS) == 0;
}

std::string SystemFileManager::contentsOfFile(const FileURL& url) const
{
    // O_NONBLOCK keeps a FIFO in place of the file from stalling the read;
    // anything but a regular file is refused below.
    UniqueFd file(::open(url.path().c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file)
        throw fileError(errno, FileAccess::reading, "read", url.path());
    struct stat status {};
    if (::fstat(file.get(), &status) != 0)
        throw fileError(errno, FileAccess::reading, "read", url.path());
    if (S_ISDIR(status.st_mode))
        throw fileError(EISDIR, FileAccess::reading, "read", url.path());
    if (!S_ISREG(status.st_mode))
        throw Error(std::string(fileErrorDomain), fileErrorCode::readUnknown,
            "Could not read \u201C" + url.path() + "\u201D because it is not a regular file.");

    if (static_cast<std::uint64_t>(status.st_size) > maximumWholeFileSize)
        throw fileError(EFBIG, FileAccess::reading, "read", url.path());

    std::string contents;
    contents.reserve(static_cast<std::size_t>(status.st_size));
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        ssize_t count = ::read(file.get(), buffer.data(), buffer.size());
        if (count < 0) {
            if (errno == EINTR)
                continue;
            throw fileError(errno, FileAccess::reading, "read", url.path());
        }
        if (count == 0)
            return contents;
        contents.append(buffer.data(), static_cast<std::size_t>(count));
        // The file may grow while it is read.
        if (contents.size() > maximumWholeFileSize)
            throw fileError(EFBIG, FileAccess::reading, "read", url.path());
    }
}

FileURL SystemFileManager::homeDirectoryForCurrentUser() const
{
    // With its links resolved: image-based systems make /home a link (to
    // /var/home, say), and a root with a link on its path is refused.
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        return FileURL(home, true).resolvingSymlinks();
    std::vector<char> buffer(16 * 1024);
    passwd entry {};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr
        && found->pw_dir != nullptr && found->pw_dir[0] == '/')
        return FileURL(found->pw_dir, true).resolvingSymlinks();
    return FileURL("/", true);
}

std::shared_ptr<const FileManager> systemFileManager()
{
    static const auto shared = std::make_shared<const SystemFileManager>();
    return shared;
}

} // namespace quillmark::platform
