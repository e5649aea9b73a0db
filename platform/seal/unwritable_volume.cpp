#include "platform/seal/unwritable_volume.hpp"

#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace quillmark::platform {
namespace {

// The kernel's STATX_MNT_ID_UNIQUE, which the C library's headers may not name yet.
#ifdef STATX_MNT_ID_UNIQUE
constexpr unsigned uniqueMountId = STATX_MNT_ID_UNIQUE;
#else
constexpr unsigned uniqueMountId = 0x4000;
#endif

// /proc/self/mountinfo: "{id} {parent} {device} {root} {mount point}
// {mount options} [optional fields] - {type} {source} {file system options}".
std::optional<bool> fileSystemIsReadOnly(std::uint64_t mountId)
{
    std::ifstream mounts("/proc/self/mountinfo");
    for (std::string line; std::getline(mounts, line);) {
        std::istringstream fields(line);
        std::uint64_t id = 0;
        if (!(fields >> id) || id != mountId)
            continue;
        auto separator = line.find(" - ");
        if (separator == std::string::npos)
            return std::nullopt;
        std::istringstream rest(line.substr(separator + 3));
        std::string type, source, options;
        if (!(rest >> type >> source >> options))
            return std::nullopt;
        std::istringstream each(options);
        for (std::string option; std::getline(each, option, ',');) {
            if (option == "ro")
                return true;
        }
        return false;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> mountIdOf(int fd, unsigned kind)
{
    struct statx extended {};
    if (::statx(fd, "", AT_EMPTY_PATH, kind, &extended) != 0 || (extended.stx_mask & kind) == 0)
        return std::nullopt;
    return extended.stx_mnt_id;
}

} // namespace

std::optional<std::uint64_t> uniqueMountIdOf(int fd)
{
    return mountIdOf(fd, uniqueMountId);
}

bool onUnwritableVolume(int fd)
{
    struct statvfs volume {};
    if (::fstatvfs(fd, &volume) != 0 || (volume.f_flag & ST_RDONLY) == 0)
        return false;
    // The table of mounts names mounts by their older, reusable ids.
    auto mount = mountIdOf(fd, STATX_MNT_ID);
    return mount && fileSystemIsReadOnly(*mount).value_or(false);
}

} // namespace quillmark::platform
