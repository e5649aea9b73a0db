#include "platform/desktop/system_workspace.hpp"

#include "platform/desktop/bundle_program.hpp"
#include "platform/desktop/fresh_program_spawn.hpp"
#include "platform/error.hpp"
#include "platform/files/file_manager.hpp"
#include "platform/plist/property_list.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace quillmark::platform {
namespace {

FileURL programOf(const FileURL& bundle)
{
    auto info = parsePropertyList(
        systemFileManager()->contentsOfFile(bundle.appendingDirectory("Contents").appendingFile("Info.plist")));
    return bundleProgram(bundle, info);
}

class SpawnActions {
public:
    SpawnActions()
    {
        ::posix_spawn_file_actions_init(&actions_);
        ::posix_spawn_file_actions_addchdir_np(&actions_, applicationStartFolder);
        ::posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    ~SpawnActions() { ::posix_spawn_file_actions_destroy(&actions_); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    const posix_spawn_file_actions_t* get() const { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
};

// Starts the program; posix_spawn reports a program that cannot be executed
// as its result, so that failure reaches the caller.
pid_t start(const FileURL& program)
{
    // As if started from the desktop: a session of its own, so it outlives
    // the installer.
    FreshProgramAttributes attributes(true);
    SpawnActions actions;
    std::string path = program.path();
    char* arguments[] = { path.data(), nullptr };
    pid_t pid = 0;
    if (int failure = ::posix_spawn(&pid, path.c_str(), actions.get(), attributes.get(), arguments, environ); failure != 0)
        throw posixError(failure, "start", path);
    return pid;
}

} // namespace

void SystemWorkspace::openApplication(const FileURL& bundle, std::function<void(std::exception_ptr error)> completion)
{
    std::thread([bundle, completion = std::move(completion)] {
        pid_t pid = 0;
        std::exception_ptr failure;
        try {
            pid = start(programOf(bundle));
        } catch (...) {
            failure = std::current_exception();
        }
        // Handed over after the handler and by move, so that this thread
        // keeps no reference to an error that another thread may be reading.
        if (failure) {
            completion(std::move(failure));
            return;
        }
        completion(nullptr);
        // Collected here so that it leaves no zombie once it quits while the
        // installer still runs.
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

} // namespace quillmark::platform
