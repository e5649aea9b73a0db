#include "platform/files/system_file_manager.hpp"

#include "platform/error.hpp"

#include <cerrno>
#include <cinttypes>
#include <cstddef>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

namespace quillmark::platform {
namespace {

// The kernel's AT_HANDLE_FID, which the C library's headers may not name yet.
#ifdef AT_HANDLE_FID
constexpr int handleOnlyNames = AT_HANDLE_FID;
#else
constexpr int handleOnlyNames = 0x200;
#endif

// An object's identity is "{device}|{inode}", followed by what tells this
// object from every later one that may get the same inode number. A bare
// inode number is not enough: ext4 gives a freed number to the next item it
// creates, at once.
//
// - Where the file system gives file handles (ext4, XFS, Btrfs, squashfs,
//   tmpfs, overlay volumes), "|handle {mount} {type} {bytes}": the handle
//   from name_to_handle_at, with the mount it was read through. A handle
//   carries the inode's generation, which changes whenever the inode is
//   used again, so no later object ever has the same one.
// - Where it does not (procfs, many FUSE file systems), "|born {seconds}.{nanoseconds}":
//   the birth time from statx, where the file system reports one; an object
//   made later is born later.
// - Where neither exists, nothing more. The descriptor the caller holds is
//   then what guarantees the identity: an inode stays allocated while it is
//   open, even once its last name is gone, so no item made meanwhile can take
//   its number. A held identity therefore names its object and no other for
//   as long as it is held, on every file system whose inode numbers the
//   kernel keeps (network and FUSE file systems whose server reuses the
//   numbers of objects it no longer knows about are the exception: there
//   only a handle helps).
// A handle that only has to name the object, never to open it again, is what
// overlay volumes give: theirs names the object in the layer beneath, which
// stays the same when a change copies the object up, whereas its birth time
// is that of the copy. Kernels older than 6.5 refuse the flag; they are
// asked for an ordinary handle instead.
bool readHandle(int descriptor, file_handle* handle, int& mount)
{
    const unsigned capacity = handle->handle_bytes;
    if (::name_to_handle_at(descriptor, "", handle, &mount, AT_EMPTY_PATH | handleOnlyNames) == 0)
        return true;
    if (errno != EINVAL)
        return false;
    handle->handle_bytes = capacity;
    return ::name_to_handle_at(descriptor, "", handle, &mount, AT_EMPTY_PATH) == 0;
}

std::string identityOf(int descriptor, const struct stat& status)
{
    std::string identity = std::to_string(status.st_dev) + "|" + std::to_string(status.st_ino);

    // A handle ends in a flexible array; its bytes follow the header.
    alignas(file_handle) unsigned char storage[sizeof(file_handle) + MAX_HANDLE_SZ] {};
    auto* handle = reinterpret_cast<file_handle*>(storage);
    handle->handle_bytes = MAX_HANDLE_SZ;
    int mount = 0;
    if (readHandle(descriptor, handle, mount)) {
        identity += "|handle " + std::to_string(mount) + " " + std::to_string(handle->handle_type) + " ";
        const unsigned char* bytes = storage + offsetof(file_handle, f_handle);
        for (unsigned i = 0; i < handle->handle_bytes; ++i) {
            char digits[3];
            std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
            identity += digits;
        }
        return identity;
    }

    struct statx extended {};
    if (::statx(descriptor, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, STATX_BTIME, &extended) == 0
        && (extended.stx_mask & STATX_BTIME) != 0) {
        char born[48];
        std::snprintf(born, sizeof born, "|born %" PRId64 ".%09" PRIu32, static_cast<std::int64_t>(extended.stx_btime.tv_sec),
            extended.stx_btime.tv_nsec);
        identity += born;
    }
    return identity;
}

} // namespace

HeldItem SystemFileManager::holdItem(const FileURL& url) const
{
    // O_PATH opens anything, folders, links and files without read
    // permission alike, and reads nothing; O_NOFOLLOW makes a final link the
    // item held, as lstat would.
    UniqueFd descriptor(::open(url.path().c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!descriptor)
        throw fileError(errno, FileAccess::reading, "read the attributes of", url.path());
    struct stat status {};
    if (::fstat(descriptor.get(), &status) != 0)
        throw fileError(errno, FileAccess::reading, "read the attributes of", url.path());
    auto identity = identityOf(descriptor.get(), status);
    return HeldItem(std::move(descriptor), std::move(identity));
}

} // namespace quillmark::platform
