#include "tests/support/scoped_mount.hpp"

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>

namespace quillmark::testing {
namespace {

void enterPrivateMountNamespace()
{
    static const bool entered = [] {
        if (::unshare(CLONE_NEWNS) != 0)
            return false;
        return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    }();
    (void)entered; // Without one, the mount is still undone by the destructor.
}

std::string reason(const std::string& what)
{
    return what + " failed: " + std::strerror(errno) + " (mounting needs root or CAP_SYS_ADMIN)";
}

} // namespace

std::unique_ptr<ScopedMount> ScopedMount::sizeLimitedTmpfs(const std::string& path, std::size_t bytes, std::string& whyNot)
{
    enterPrivateMountNamespace();
    std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (::mount("quillmark-test", path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
        whyNot = reason("mounting a tmpfs at " + path);
        return nullptr;
    }
    return std::unique_ptr<ScopedMount>(new ScopedMount(path));
}

std::unique_ptr<ScopedMount> ScopedMount::readOnlyBind(const std::string& path, std::string& whyNot)
{
    enterPrivateMountNamespace();
    if (::mount(path.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        whyNot = reason("bind-mounting " + path);
        return nullptr;
    }
    std::unique_ptr<ScopedMount> mount(new ScopedMount(path));
    if (::mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
        whyNot = reason("making " + path + " read-only");
        return nullptr;
    }
    return mount;
}

ScopedMount::~ScopedMount()
{
    ::umount2(path_.c_str(), MNT_DETACH);
}

} // namespace quillmark::testing
