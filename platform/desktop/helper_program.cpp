#include "platform/desktop/helper_program.hpp"

#include "platform/error.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quillmark::platform {

std::optional<std::string> programOnPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::string_view folders = path != nullptr && path[0] != '\0' ? path : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        auto colon = folders.find(':');
        auto folder = folders.substr(0, colon);
        // An empty or relative entry would depend on the current folder.
        if (folder.starts_with('/')) {
            auto candidate = std::string(folder) + "/" + name;
            if (::access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
        if (colon == std::string_view::npos)
            return std::nullopt;
        folders.remove_prefix(colon + 1);
    }
}

int runHelperProgram(const std::vector<std::string>& arguments)
{
    std::vector<std::string> texts = arguments;
    std::vector<char*> argv;
    for (auto& text : texts)
        argv.push_back(text.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // What it says about other programs' entries is not the user's concern.
    ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // The installer holds its quit signals blocked; a helper starts with the
    // signal handling of a fresh program.
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &all);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = 0;
    int failure = ::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
    if (failure != 0)
        throw posixError(failure, "start", arguments.front());

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            throw posixError(errno, "wait for", arguments.front());
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace quillmark::platform
