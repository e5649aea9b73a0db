#include "platform/desktop/helper_program.hpp"

#include "platform/desktop/fresh_program_spawn.hpp"
#include "platform/error.hpp"

#include <cerrno>
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
    FreshProgramAttributes attributes(false);

    pid_t pid = 0;
    int failure = ::posix_spawn(&pid, argv[0], &actions, attributes.get(), argv.data(), environ);
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
