#include "platform/seal/bundle_tree.hpp"

#include "platform/error.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillmark::platform {
namespace {

constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// Real bundles nest a dozen levels; a hostile one must not exhaust the stack
// or the descriptors held open along the path.
constexpr int maximumDepth = 128;

std::string joined(std::string_view prefix, std::string_view name)
{
    if (prefix.empty())
        return std::string(name);
    std::string path(prefix);
    path += '/';
    path += name;
    return path;
}

std::string displayed(std::string_view bundle, std::string_view relative)
{
    return relative.empty() ? std::string(bundle) : joined(bundle, relative);
}

std::vector<std::string> sortedNames(int folderFd, const std::string& shownPath)
{
    // fdopendir takes ownership, so hand it a duplicate and keep ours.
    int duplicate = ::fcntl(folderFd, F_DUPFD_CLOEXEC, 0);
    DIR* stream = duplicate >= 0 ? ::fdopendir(duplicate) : nullptr;
    if (stream == nullptr) {
        int error = errno;
        if (duplicate >= 0)
            ::close(duplicate);
        throw fileError(error, FileAccess::reading, "read the folder", shownPath);
    }
    // The duplicate shares its position with our descriptor, which an earlier
    // listing may have left at the end.
    ::rewinddir(stream);
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = ::readdir(stream)) {
        std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
        errno = 0;
    }
    int error = errno;
    ::closedir(stream);
    if (error != 0)
        throw fileError(error, FileAccess::reading, "read the folder", shownPath);
    std::sort(names.begin(), names.end());
    return names;
}

std::string readLinkTarget(int folderFd, const std::string& name, std::size_t sizeHint, const std::string& shownPath)
{
    std::string target(std::max<std::size_t>(sizeHint, 64) + 1, '\0');
    for (;;) {
        ssize_t length = ::readlinkat(folderFd, name.c_str(), target.data(), target.size());
        if (length < 0)
            throw fileError(errno, FileAccess::reading, "read the link", shownPath);
        if (static_cast<std::size_t>(length) < target.size()) {
            target.resize(static_cast<std::size_t>(length));
            return target;
        }
        target.resize(target.size() * 2);
    }
}

std::string otherKindOf(mode_t mode)
{
    if (S_ISFIFO(mode))
        return "a named pipe";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    return "an item of unknown kind";
}

void listFolder(int folderFd, const std::string& relative, std::string_view bundle, const std::set<std::string>& skip,
    std::vector<BundleItem>& items, int depth, const std::stop_token& stop)
{
    if (stop.stop_requested())
        return;
    if (depth > maximumDepth)
        throw Error(std::string(fileErrorDomain), fileErrorCode::readUnknown,
            "The folder \u201C" + displayed(bundle, relative) + "\u201D is nested too deeply to be read.");
    for (const auto& name : sortedNames(folderFd, displayed(bundle, relative))) {
        BundleItem item;
        item.path = joined(relative, name);
        if (skip.contains(item.path))
            continue;
        auto shownPath = displayed(bundle, item.path);
        struct stat status {};
        if (::fstatat(folderFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
            throw fileError(errno, FileAccess::reading, "read the attributes of", shownPath);
        if (S_ISDIR(status.st_mode)) {
            item.kind = BundleItemKind::folder;
            UniqueFd child(::openat(folderFd, name.c_str(), folderFlags));
            if (!child)
                throw fileError(errno, FileAccess::reading, "open the folder", shownPath);
            auto childPath = item.path;
            items.push_back(std::move(item));
            listFolder(child.get(), childPath, bundle, skip, items, depth + 1, stop);
            continue;
        }
        if (S_ISREG(status.st_mode)) {
            item.kind = BundleItemKind::file;
            item.executable = (status.st_mode & 0111) != 0;
            item.setsIdentity = (status.st_mode & (S_ISUID | S_ISGID)) != 0;
            item.size = static_cast<std::uint64_t>(status.st_size);
        } else if (S_ISLNK(status.st_mode)) {
            item.kind = BundleItemKind::link;
            item.linkTarget = readLinkTarget(folderFd, name, static_cast<std::size_t>(status.st_size), shownPath);
        } else {
            item.otherKind = otherKindOf(status.st_mode);
        }
        items.push_back(std::move(item));
    }
}

// No component may be empty, "." or "..", so the path can only name an item
// below the folder it starts from.
bool namesOnlyItemsBelow(std::string_view relativePath)
{
    for (;;) {
        auto slash = relativePath.find('/');
        auto name = relativePath.substr(0, slash);
        if (name.empty() || name == "." || name == "..")
            return false;
        if (slash == std::string_view::npos)
            return true;
        relativePath.remove_prefix(slash + 1);
    }
}

// The kernel walks the whole path in one call, refusing a link at every step
// as the walk below does with one open and one close per folder on the
// path. A check opens every file of a bundle, so this saves most of the
// system calls its opening makes.
// ENOSYS when this kernel (or a sandbox's filter) does not offer the call.
int openInOneStep(int rootFd, std::string_view relativePath, int flags, UniqueFd& opened)
{
    static std::atomic<bool> unavailable { false };
    if (unavailable.load(std::memory_order_relaxed))
        return ENOSYS;
    open_how how {};
    how.flags = static_cast<std::uint64_t>(flags | O_NOFOLLOW | O_CLOEXEC);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    std::string path(relativePath);
    long fd = ::syscall(SYS_openat2, rootFd, path.c_str(), &how, sizeof how);
    if (fd >= 0) {
        opened.reset(static_cast<int>(fd));
        return 0;
    }
    int error = errno;
    if (error == ENOSYS)
        unavailable.store(true, std::memory_order_relaxed);
    // EPERM may be a sandbox's filter refusing calls it does not know, and
    // EAGAIN a walk the kernel gave up on when it raced with a rename: the
    // walk by hand gives the real answer.
    return error == EPERM || error == EAGAIN ? ENOSYS : error;
}

} // namespace

std::vector<BundleItem> listBundleItems(
    int rootFd, std::string_view displayPath, const std::set<std::string>& skip, std::stop_token stop)
{
    std::vector<BundleItem> items;
    listFolder(rootFd, {}, displayPath, skip, items, 0, stop);
    return items;
}

int openBeneath(int rootFd, std::string_view relativePath, int flags, UniqueFd& opened)
{
    opened.reset();
    if (!namesOnlyItemsBelow(relativePath))
        return ENOENT;
    int error = openInOneStep(rootFd, relativePath, flags, opened);
    if (error != ENOSYS)
        return error;
    UniqueFd folder;
    int at = rootFd;
    for (;;) {
        auto slash = relativePath.find('/');
        std::string name(relativePath.substr(0, slash));
        bool last = slash == std::string_view::npos;
        int fd = ::openat(at, name.c_str(), last ? (flags | O_NOFOLLOW | O_CLOEXEC) : folderFlags);
        if (fd < 0)
            return errno;
        if (last) {
            opened.reset(fd);
            return 0;
        }
        folder.reset(fd);
        at = folder.get();
        relativePath.remove_prefix(slash + 1);
    }
}

UniqueFd openFolderNoFollow(const std::string& path, int& error)
{
    UniqueFd folder(::open(path.c_str(), folderFlags));
    error = folder ? 0 : errno;
    return folder;
}

} // namespace quillmark::platform
