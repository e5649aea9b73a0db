#include "platform/desktop/quit_request.hpp"

#include "platform/desktop/process_files.hpp"
#include "platform/desktop/window_close_request.hpp"
#include "platform/unique_fd.hpp"

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <memory>
#include <sys/syscall.h>
#include <unistd.h>

namespace quillmark::platform {
namespace {

using Folder = std::unique_ptr<DIR, int (*)(DIR*)>;

Folder openFolder(const std::string& path)
{
    return Folder(::opendir(path.c_str()), ::closedir);
}

bool everyThreadBlocks(pid_t pid, int signal)
{
    auto tasks = openFolder(procPath(pid, "task"));
    if (!tasks)
        return false;
    bool anyThread = false;
    while (const dirent* entry = ::readdir(tasks.get())) {
        if (entry->d_name[0] == '.')
            continue;
        auto threadStatus = readWhole(procPath(pid, std::string("task/") + entry->d_name + "/status"));
        // A thread that has just ended blocks nothing any more.
        if (!threadStatus)
            continue;
        if (!signalInMask(statusLine(*threadStatus, "SigBlk"), signal))
            return false;
        anyThread = true;
    }
    return anyThread;
}

bool readsThroughSignalDescriptor(pid_t pid, int signal)
{
    auto descriptors = openFolder(procPath(pid, "fd"));
    if (!descriptors)
        return false;
    while (const dirent* entry = ::readdir(descriptors.get())) {
        if (entry->d_name[0] == '.')
            continue;
        auto target = readLink(procPath(pid, std::string("fd/") + entry->d_name));
        if (!target || *target != "anon_inode:[signalfd]")
            continue;
        auto info = readWhole(procPath(pid, std::string("fdinfo/") + entry->d_name));
        if (info && signalInMask(statusLine(*info, "sigmask"), signal))
            return true;
    }
    return false;
}

bool isStillTheListedProcess(pid_t pid, unsigned long long startTime)
{
    auto status = processStatus(pid);
    return !hasGone(status) && status->startTime == startTime;
}

bool handlesQuitSignal(pid_t pid, const std::string& statusText)
{
    if (signalInMask(statusLine(statusText, "SigCgt"), SIGTERM))
        return true;
    return everyThreadBlocks(pid, SIGTERM) && readsThroughSignalDescriptor(pid, SIGTERM);
}

} // namespace

bool handlesQuitSignal(pid_t pid)
{
    auto status = readWhole(procPath(pid, "status"));
    return status && handlesQuitSignal(pid, *status);
}

void requestPoliteQuit(pid_t pid, unsigned long long startTime)
{
    // The descriptor pins the process that holds the number now; the start
    // time proves that it is still the one listed, so a number reused by
    // another process is never signalled.
    UniqueFd process(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    if (!process && errno != ENOSYS)
        return;
    if (!isStillTheListedProcess(pid, startTime))
        return;
    // Read once for both the owner and the signal handling.
    auto status = readWhole(procPath(pid, "status"));
    if (!status || !belongsToThisUser(*status))
        return;
    if (handlesQuitSignal(pid, *status)) {
        if (process)
            ::syscall(SYS_pidfd_send_signal, process.get(), SIGTERM, nullptr, 0);
        else
            ::kill(pid, SIGTERM);
        return;
    }
    askWindowsToClose(pid);
}

} // namespace quillmark::platform
