#include "tests/app/private_desktop.hpp"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <csignal>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace quillmark::testing {
namespace {

bool exists(const std::string& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

std::string failure(const std::string& what)
{
    return what + " failed: " + std::strerror(errno);
}

} // namespace

std::optional<std::string> programOnPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        std::string candidate = folder + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::nullopt;
}

std::unique_ptr<VirtualDisplay> VirtualDisplay::start(std::string& whyNot)
{
    auto xvfb = programOnPath("Xvfb");
    if (!xvfb) {
        whyNot = "Xvfb is not installed";
        return nullptr;
    }
    // Xvfb picks a display number no one uses and tells it through a pipe:
    // other tests and programs on this machine start displays of their own
    // at the same time, so a number chosen here could be taken before the
    // server claims it. -noreset: by default the server starts over each
    // time its last client leaves (the accessibility bus's launcher, a key
    // sent with xdotool), and hangs up on a program that connects meanwhile;
    // the installer then ended at start with "could not connect to display".
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        whyNot = failure("creating a pipe for Xvfb");
        return nullptr;
    }
    std::unique_ptr<ChildProcess> server;
    {
        // The write end, without close-on-exec, as descriptor 3 of the server.
        const int writeEnd = ::fcntl(ends[1], F_DUPFD, 3);
        server = std::make_unique<ChildProcess>(
            std::vector<std::string> { *xvfb, "-displayfd", std::to_string(writeEnd), "-screen", "0", "1024x768x24",
                "-nolisten", "tcp", "-noreset" },
            std::map<std::string, std::string> {});
        ::close(writeEnd);
        ::close(ends[1]);
    }
    std::string number;
    pollfd reading { ends[0], POLLIN, 0 };
    char c = 0;
    while (::poll(&reading, 1, 10000) > 0 && ::read(ends[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(ends[0]);
    if (number.empty() || c != '\n') {
        whyNot = "Xvfb did not start";
        return nullptr;
    }
    return std::unique_ptr<VirtualDisplay>(new VirtualDisplay(":" + number, std::move(server)));
}

VirtualDisplay::VirtualDisplay(std::string name, std::unique_ptr<ChildProcess> server)
    : name_(std::move(name))
    , server_(std::move(server))
{
}

VirtualDisplay::~VirtualDisplay()
{
    // Asked politely first, so the server removes its socket and lock file;
    // SIGINT, because test children start with SIGTERM blocked.
    server_->signal(SIGINT);
    server_->waitForExit(std::chrono::seconds(5));
}

bool isolateWithDiskImage(const std::string& writable, const std::string& image, const std::string& volume,
    std::string& whyNot)
{
    auto mount = programOnPath("mount");
    if (!mount) {
        whyNot = "mount is not installed";
        return false;
    }
    if (::unshare(CLONE_NEWNS) != 0) {
        whyNot = failure("entering a private mount namespace") + " (it needs root)";
        return false;
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        whyNot = failure("making the mounts private");
        return false;
    }
    if (::mount(writable.c_str(), writable.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        whyNot = failure("keeping " + writable + " writable");
        return false;
    }
    // While the system can still record the loop device.
    auto mounted = runCommand({ *mount, "-o", "loop,ro", "-t", "squashfs", image, volume });
    if (mounted.exitStatus != 0) {
        whyNot = "mounting the disk image failed: " + mounted.errors;
        return false;
    }
    if (exists("/Applications")
        && ::mount("quillmark-test", "/Applications", "tmpfs", MS_RDONLY | MS_NOSUID | MS_NODEV, "mode=0755") != 0) {
        whyNot = failure("hiding /Applications");
        return false;
    }
    if (::mount(nullptr, "/", nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
        whyNot = failure("making the system read-only");
        return false;
    }
    return true;
}

void leaveIsolation(const std::string& writable, const std::string& volume)
{
    ::mount(nullptr, "/", nullptr, MS_REMOUNT | MS_BIND, nullptr);
    ::umount2(volume.c_str(), MNT_DETACH);
    if (exists("/Applications"))
        ::umount2("/Applications", MNT_DETACH);
    ::umount2(writable.c_str(), MNT_DETACH);
}

} // namespace quillmark::testing
