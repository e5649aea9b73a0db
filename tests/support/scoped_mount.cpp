#include "tests/support/scoped_mount.hpp"

#include "tests/support/child_process.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

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

// A system program, also where PATH leaves out the administrators' folders.
std::string systemProgram(const std::string& name)
{
    auto path = programPath(name);
    for (const char* folder : { "/usr/sbin/", "/sbin/" }) {
        if (path.empty() && ::access((folder + name).c_str(), X_OK) == 0)
            path = folder + name;
    }
    return path;
}

} // namespace

std::unique_ptr<ScopedMount> ScopedMount::freshExt4(
    const std::string& path, const std::string& image, std::size_t bytes, std::string& whyNot, int inodeBytes)
{
    auto mkfs = systemProgram("mkfs.ext4");
    auto mountProgram = systemProgram("mount");
    if (mkfs.empty() || mountProgram.empty()) {
        whyNot = "mkfs.ext4 or mount is not installed, so no ext4 volume can be made";
        return nullptr;
    }
    int file = ::open(image.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (file < 0 || ::ftruncate(file, static_cast<off_t>(bytes)) != 0) {
        whyNot = reason("making the image file " + image);
        if (file >= 0)
            ::close(file);
        return nullptr;
    }
    ::close(file);
    std::vector<std::string> command { mkfs, "-q", "-F", "-b", "4096" };
    if (inodeBytes != 0) {
        command.push_back("-I");
        command.push_back(std::to_string(inodeBytes));
    }
    command.push_back(image);
    auto made = runCommand(command);
    if (made.exitStatus != 0) {
        whyNot = "mkfs.ext4 failed: " + made.errors;
        return nullptr;
    }
    // The child process shares this process's private mount namespace. A
    // loop device set up by mount goes away by itself once unmounted.
    enterPrivateMountNamespace();
    auto mounted = runCommand({ mountProgram, "-o", "loop", image, path });
    if (mounted.exitStatus != 0) {
        whyNot = "mounting an ext4 image failed (mounting needs root or CAP_SYS_ADMIN): " + mounted.errors;
        return nullptr;
    }
    return std::unique_ptr<ScopedMount>(new ScopedMount(path));
}

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

std::unique_ptr<ScopedMount> ScopedMount::diskImage(
    const std::string& path, const std::string& contents, const std::string& image, std::string& whyNot)
{
    auto mksquashfs = systemProgram("mksquashfs");
    auto mountProgram = systemProgram("mount");
    if (mksquashfs.empty() || mountProgram.empty()) {
        whyNot = "mksquashfs or mount is not installed, so no disk image can be made";
        return nullptr;
    }
    auto made = runCommand({ mksquashfs, contents, image, "-noappend", "-quiet", "-no-progress" });
    if (made.exitStatus != 0) {
        whyNot = "mksquashfs failed: " + made.errors;
        return nullptr;
    }
    enterPrivateMountNamespace();
    auto mounted = runCommand({ mountProgram, "-t", "squashfs", "-o", "loop,ro", image, path });
    if (mounted.exitStatus != 0) {
        whyNot = "mounting a squashfs image failed (mounting needs root or CAP_SYS_ADMIN): " + mounted.errors;
        return nullptr;
    }
    return std::unique_ptr<ScopedMount>(new ScopedMount(path));
}

std::unique_ptr<ScopedMount> ScopedMount::overlay(const std::string& path, const std::string& lower,
    const std::string& upper, const std::string& work, std::string& whyNot)
{
    enterPrivateMountNamespace();
    // redirect_dir lets a folder that lies in the lower layer be renamed,
    // as the installation renames the installed copy.
    std::string options = "lowerdir=" + lower + ",upperdir=" + upper + ",workdir=" + work + ",redirect_dir=on";
    if (::mount("quillmark-test", path.c_str(), "overlay", 0, options.c_str()) != 0) {
        whyNot = reason("mounting an overlay at " + path);
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

std::unique_ptr<ScopedMount> ScopedMount::fuseOpenToEveryone(const std::string& copy, std::string& whyNot)
{
    enterPrivateMountNamespace();
    if (::mknod(copy.c_str(), S_IFCHR | 0666, makedev(10, 229)) != 0) {
        whyNot = reason("making a FUSE device node at " + copy);
        return nullptr;
    }
    // Without the umask's bits taken away.
    ::chmod(copy.c_str(), 0666);
    if (::mount(copy.c_str(), "/dev/fuse", nullptr, MS_BIND, nullptr) != 0) {
        whyNot = reason("bind-mounting " + copy + " over /dev/fuse");
        return nullptr;
    }
    return std::unique_ptr<ScopedMount>(new ScopedMount("/dev/fuse"));
}

ScopedMount::~ScopedMount()
{
    ::umount2(path_.c_str(), MNT_DETACH);
}

} // namespace quillmark::testing
