#include "platform/desktop/owned_folder.hpp"

#include "platform/error.hpp"
#include "platform/files/uuid.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillmark::platform {
namespace {

[[noreturn]] void refuseOtherOwner(std::string_view path)
{
    throw Error(std::string(fileErrorDomain), fileErrorCode::writeNoPermission,
        "Could not write \u201C" + std::string(path) + "\u201D because it belongs to another user.",
        std::make_shared<Error>(posixError(EPERM, "write", path)));
}

// Folders of the system's administrator are trusted too: the system-wide
// data folder is one.
void requireOwnFolder(int fd, std::string_view path)
{
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        throw fileError(errno, FileAccess::reading, "read the folder", path);
    if (status.st_uid != ::geteuid() && status.st_uid != 0)
        refuseOtherOwner(path);
}

UniqueFd openFolderAt(int parent, const std::string& name, int extraFlags, const std::string& path)
{
    UniqueFd fd(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | extraFlags));
    if (fd)
        return fd;
    int number = errno;
    // A link refused by O_NOFOLLOW reads as "not a folder"; it is a link.
    struct stat status {};
    if (number == ENOTDIR && ::fstatat(parent, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode))
        number = ELOOP;
    throw fileError(number, FileAccess::writing, "open the folder", path);
}

// Creates what is missing of `url`, top down, with `mode`, following the
// links of what exists.
void createMissing(const FileURL& url, unsigned mode)
{
    struct stat status {};
    if (::stat(url.path().c_str(), &status) == 0)
        return;
    auto parent = url.deletingLastComponent();
    if (parent.path() != url.path())
        createMissing(parent, mode);
    if (::mkdir(url.path().c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST)
        throw fileError(errno, FileAccess::writing, "create the folder", url.path());
}

void writeAll(int fd, std::string_view contents, const std::string& path)
{
    while (!contents.empty()) {
        ssize_t written = ::write(fd, contents.data(), contents.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            throw fileError(errno, FileAccess::writing, "write", path);
        contents.remove_prefix(static_cast<std::size_t>(written));
    }
}

} // namespace

OwnedFolder::OwnedFolder(UniqueFd fd, FileURL url)
    : fd_(std::move(fd))
    , url_(std::move(url))
{
}

OwnedFolder OwnedFolder::open(const FileURL& url, unsigned missingMode)
{
    createMissing(url, missingMode);
    auto fd = openFolderAt(AT_FDCWD, url.path(), 0, url.path());
    requireOwnFolder(fd.get(), url.path());
    return OwnedFolder(std::move(fd), url);
}

OwnedFolder OwnedFolder::subfolder(std::string_view name, unsigned missingMode) const
{
    const std::string component(name);
    auto url = url_.appendingDirectory(name);
    if (::mkdirat(fd_.get(), component.c_str(), static_cast<mode_t>(missingMode)) != 0 && errno != EEXIST)
        throw fileError(errno, FileAccess::writing, "create the folder", url.path());
    auto fd = openFolderAt(fd_.get(), component, O_NOFOLLOW, url.path());
    requireOwnFolder(fd.get(), url.path());
    return OwnedFolder(std::move(fd), url);
}

void OwnedFolder::replaceFile(std::string_view name, std::string_view contents, unsigned mode) const
{
    const std::string target(name);
    const auto path = url_.appendingFile(name).path();

    struct stat existing {};
    if (::fstatat(fd_.get(), target.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        if (existing.st_uid != ::geteuid())
            refuseOtherOwner(path);
    } else if (errno != ENOENT) {
        throw fileError(errno, FileAccess::reading, "read", path);
    }

    // Hidden and without the final extension, so that nothing reading the
    // folder takes a half-written file for a real one.
    const std::string temporary = "." + target + "." + randomUUIDText();
    UniqueFd file(::openat(fd_.get(), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file)
        throw fileError(errno, FileAccess::writing, "write", path);
    try {
        writeAll(file.get(), contents, path);
        // Exactly `mode`, whatever the umask; then on the disk before the
        // rename makes it visible, so a power cut cannot leave an empty file.
        if (::fchmod(file.get(), static_cast<mode_t>(mode)) != 0)
            throw fileError(errno, FileAccess::writing, "write", path);
        if (::fsync(file.get()) != 0)
            throw fileError(errno, FileAccess::writing, "write", path);
        file.reset();
        // rename replaces a link itself and never writes through it.
        if (::renameat(fd_.get(), temporary.c_str(), fd_.get(), target.c_str()) != 0)
            throw fileError(errno, FileAccess::writing, "write", path);
    } catch (...) {
        ::unlinkat(fd_.get(), temporary.c_str(), 0);
        throw;
    }
    // The new name itself made durable.
    ::fsync(fd_.get());
}

void OwnedFolder::markChanged() const
{
    if (::futimens(fd_.get(), nullptr) != 0)
        throw fileError(errno, FileAccess::writing, "update the folder", url_.path());
}

} // namespace quillmark::platform
