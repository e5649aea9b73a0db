#include "platform/files/volume_information.hpp"

#include "platform/error.hpp"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace quillmark::platform {
namespace {

bool isFolder(const std::string& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::string userName()
{
    if (const char* user = std::getenv("USER"); user != nullptr && user[0] != '\0')
        return user;
    std::vector<char> buffer(16 * 1024);
    passwd entry {};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
        return found->pw_name;
    return {};
}

} // namespace

bool volumeIsReadOnly(const FileURL& url)
{
    struct statvfs volume {};
    if (::statvfs(url.path().c_str(), &volume) != 0)
        throw fileError(errno, FileAccess::reading, "find the volume of", url.path());
    return (volume.f_flag & ST_RDONLY) != 0;
}

VolumeSpace volumeSpace(const FileURL& url)
{
    struct statvfs volume {};
    if (::statvfs(url.path().c_str(), &volume) != 0)
        throw fileError(errno, FileAccess::reading, "find the free space of", url.path());
    return { static_cast<std::uint64_t>(volume.f_bavail) * volume.f_frsize, volume.f_frsize };
}

FileURL volumesFolder()
{
    std::vector<std::string> candidates { "/Volumes" };
    if (auto user = userName(); !user.empty() && user.find('/') == std::string::npos) {
        candidates.push_back("/run/media/" + user);
        candidates.push_back("/media/" + user);
    }
    candidates.push_back("/media");
    for (const auto& candidate : candidates) {
        if (isFolder(candidate))
            return FileURL(candidate, true);
    }
    return FileURL("/", true);
}

} // namespace quillmark::platform
