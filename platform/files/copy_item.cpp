#include "platform/files/system_file_manager.hpp"

#include "platform/error.hpp"
#include "platform/files/extended_attributes.hpp"
#include "platform/files/folder_listing.hpp"
#include "platform/unique_fd.hpp"

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quillmark::platform {
namespace {

constexpr std::string_view action = "copy";

// Set-user-ID and set-group-ID bits are left out: the copy belongs to whoever
// installs it (often the administrator), and those bits would hand that
// owner's rights to anyone who runs the file. They are not part of the seal,
// so a payload altered after sealing could otherwise smuggle them in.
constexpr mode_t copiedModeBits = 07777 & ~(S_ISUID | S_ISGID);

// Enough to keep a disk busy without making the copy's memory grow with the
// files it copies.
constexpr std::size_t fallbackBufferSize = 256 * 1024;

[[noreturn]] void refuseKind(const std::string& path)
{
    throw Error(std::string(fileErrorDomain), fileErrorCode::readUnknown,
        "Could not copy \u201C" + path + "\u201D because it is not a file, a folder or a symbolic link.");
}

[[noreturn]] void refuseChanged(const std::string& path)
{
    throw Error(std::string(fileErrorDomain), fileErrorCode::readUnknown,
        "Could not copy \u201C" + path + "\u201D because it changed while it was being copied.",
        std::make_shared<Error>(posixError(ESTALE, action, path)));
}

bool sameObject(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && (a.st_mode & S_IFMT) == (b.st_mode & S_IFMT);
}

// Copies the bytes by the cheapest means the two file systems allow: a clone
// shares the blocks, copy_file_range copies inside the kernel, and plain
// reads and writes work everywhere else.
void copyData(int source, int destination, const std::string& sourcePath, const std::string& destinationPath)
{
    if (::ioctl(destination, FICLONE, source) == 0)
        return;

    std::size_t copiedInKernel = 0;
    for (;;) {
        ssize_t copied = ::copy_file_range(source, nullptr, destination, nullptr, 1 << 30, 0);
        if (copied == 0)
            return;
        if (copied > 0) {
            copiedInKernel += static_cast<std::size_t>(copied);
            continue;
        }
        if (errno == EINTR)
            continue;
        // These mean the two file systems cannot copy between them in the
        // kernel; they come before any byte moved, so both offsets are still
        // at the start.
        bool unsupported = errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP || errno == ENOSYS;
        if (!unsupported || copiedInKernel != 0)
            throw fileError(errno, FileAccess::writing, action, destinationPath);
        break;
    }

    std::vector<char> buffer(fallbackBufferSize);
    for (;;) {
        ssize_t count = ::read(source, buffer.data(), buffer.size());
        if (count < 0) {
            if (errno == EINTR)
                continue;
            throw fileError(errno, FileAccess::reading, action, sourcePath);
        }
        if (count == 0)
            return;
        for (ssize_t written = 0; written < count;) {
            ssize_t step = ::write(destination, buffer.data() + written, static_cast<std::size_t>(count - written));
            if (step < 0) {
                if (errno == EINTR)
                    continue;
                throw fileError(errno, FileAccess::writing, action, destinationPath);
            }
            written += step;
        }
    }
}

// One copy of one tree. Every item is opened relative to its open folder
// without following links, so a link inside the source is copied as a link
// and never leads the copy outside the tree.
class ExactCopy {
public:
    explicit ExactCopy(const FileManager::CopiedFile& fileCopied)
        : fileCopied_(fileCopied)
    {
    }

    void copyEntry(int sourceParent, int destinationParent, const std::string& name, const std::string& destinationName,
        const std::string& sourcePath, const std::string& destinationPath)
    {
        struct stat status {};
        if (::fstatat(sourceParent, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
            throw fileError(errno, FileAccess::reading, action, sourcePath);
        if (S_ISDIR(status.st_mode))
            copyFolder(sourceParent, destinationParent, name, destinationName, status, sourcePath, destinationPath);
        else if (S_ISREG(status.st_mode))
            copyFile(sourceParent, destinationParent, name, destinationName, status, sourcePath, destinationPath);
        else if (S_ISLNK(status.st_mode))
            copyLink(sourceParent, destinationParent, name, destinationName, status, sourcePath, destinationPath);
        else
            refuseKind(sourcePath);
    }

    // Whether the top item of the copy exists, so that a failed copy removes
    // what it made and never what was there before.
    bool createdTop() const { return createdTop_; }

private:
    void created()
    {
        if (depth_ == 0)
            createdTop_ = true;
    }

    static void applyModeAndTimes(int item, const struct stat& status, const std::string& path)
    {
        if (::fchmod(item, status.st_mode & copiedModeBits) != 0)
            throw fileError(errno, FileAccess::writing, action, path);
        // Last, because every change to the contents moves the modification time.
        const struct timespec times[2] = { status.st_atim, status.st_mtim };
        if (::futimens(item, times) != 0)
            throw fileError(errno, FileAccess::writing, action, path);
    }

    // Opens a source item without following a link and makes sure it is
    // still the object that was looked at, so nothing put in its place in
    // the meantime is copied; `opened` receives its attributes.
    UniqueFd openUnchanged(int parent, const std::string& name, int extraFlags, const struct stat& status,
        const std::string& path, struct stat& opened)
    {
        UniqueFd item(::openat(parent, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | extraFlags));
        if (!item)
            throw fileError(errno, FileAccess::reading, action, path);
        if (::fstat(item.get(), &opened) != 0)
            throw fileError(errno, FileAccess::reading, action, path);
        if (!sameObject(opened, status))
            refuseChanged(path);
        return item;
    }

    void copyFolder(int sourceParent, int destinationParent, const std::string& name, const std::string& destinationName,
        const struct stat& status, const std::string& sourcePath, const std::string& destinationPath)
    {
        struct stat opened {};
        auto source = openUnchanged(sourceParent, name, O_DIRECTORY, status, sourcePath, opened);

        // Private until its contents are in, whatever mode it ends with, so a
        // read-only folder can still be filled.
        if (::mkdirat(destinationParent, destinationName.c_str(), 0700) != 0)
            throw fileError(errno, FileAccess::writing, action, destinationPath);
        created();
        UniqueFd destination(
            ::openat(destinationParent, destinationName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!destination)
            throw fileError(errno, FileAccess::writing, action, destinationPath);

        ++depth_;
        for (const auto& child : namesInFolder(source.get(), sourcePath))
            copyEntry(source.get(), destination.get(), child, child, childPath(sourcePath, child),
                childPath(destinationPath, child));
        --depth_;

        setExtendedAttributesOfOpenItem(
            destination.get(), extendedAttributesOfOpenItem(source.get(), sourcePath), destinationPath);
        applyModeAndTimes(destination.get(), opened, destinationPath);
    }

    void copyFile(int sourceParent, int destinationParent, const std::string& name, const std::string& destinationName,
        const struct stat& status, const std::string& sourcePath, const std::string& destinationPath)
    {
        // O_NONBLOCK: should a FIFO take the file's place after the look
        // above, opening it must not wait for a writer; it is refused below.
        struct stat opened {};
        auto source = openUnchanged(sourceParent, name, O_NONBLOCK, status, sourcePath, opened);

        UniqueFd destination(::openat(destinationParent, destinationName.c_str(),
            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!destination)
            throw fileError(errno, FileAccess::writing, action, destinationPath);
        created();

        copyData(source.get(), destination.get(), sourcePath, destinationPath);
        setExtendedAttributesOfOpenItem(
            destination.get(), extendedAttributesOfOpenItem(source.get(), sourcePath), destinationPath);
        applyModeAndTimes(destination.get(), opened, destinationPath);
        // Start writing the data to the disk now, without waiting, so that a
        // later sync of the copy finds most of it already there.
        ::sync_file_range(destination.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
        // Closed before anyone hears of it: while the copy holds it open for
        // writing, a reader cannot show that nobody changes it as it reads.
        destination.reset();
        if (fileCopied_)
            fileCopied_(destinationPath);
    }

    void copyLink(int sourceParent, int destinationParent, const std::string& name, const std::string& destinationName,
        const struct stat& status, const std::string& sourcePath, const std::string& destinationPath)
    {
        std::string target(static_cast<std::size_t>(status.st_size) + 1, '\0');
        for (;;) {
            ssize_t length = ::readlinkat(sourceParent, name.c_str(), target.data(), target.size());
            if (length < 0)
                throw fileError(errno, FileAccess::reading, action, sourcePath);
            if (static_cast<std::size_t>(length) < target.size()) {
                target.resize(static_cast<std::size_t>(length));
                break;
            }
            target.resize(target.size() * 2);
        }
        auto attributes = extendedAttributesOfItem(sourcePath);

        if (::symlinkat(target.c_str(), destinationParent, destinationName.c_str()) != 0)
            throw fileError(errno, FileAccess::writing, action, destinationPath);
        created();
        setExtendedAttributesOfItem(destinationPath, attributes);
        const struct timespec times[2] = { status.st_atim, status.st_mtim };
        if (::utimensat(destinationParent, destinationName.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
            throw fileError(errno, FileAccess::writing, action, destinationPath);
    }

    const FileManager::CopiedFile& fileCopied_;
    int depth_ = 0;
    bool createdTop_ = false;
};

UniqueFd openParentFolder(const FileURL& url, FileAccess access)
{
    auto parent = url.deletingLastComponent().path();
    UniqueFd folder(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder)
        throw fileError(errno, access, action, url.path());
    return folder;
}

} // namespace

void SystemFileManager::copyItem(const FileURL& source, const FileURL& destination, const CopiedFile& fileCopied) const
{
    if (source.path() == "/")
        refuseKind(source.path());
    UniqueFd sourceParent = openParentFolder(source, FileAccess::reading);
    UniqueFd destinationParent = openParentFolder(destination, FileAccess::writing);

    ExactCopy copy(fileCopied);
    try {
        copy.copyEntry(sourceParent.get(), destinationParent.get(), source.lastComponent(), destination.lastComponent(),
            source.path(), destination.path());
    } catch (...) {
        if (copy.createdTop()) {
            try {
                SystemFileManager::removeItem(destination);
            } catch (const std::exception&) {
                // The copy's own error says what went wrong; the remains are
                // in a place the caller chose and will clear.
            }
        }
        throw;
    }
}

} // namespace quillmark::platform
