#include "tests/support/child_process.hpp"

#include "tests/support/temporary_folder.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace quillmark::testing {
namespace {

std::vector<char*> pointers(std::vector<std::string>& texts)
{
    std::vector<char*> result;
    for (auto& text : texts)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

int exitStatusOf(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

pid_t spawn(std::vector<std::string> arguments, std::vector<std::string> environment,
    const posix_spawn_file_actions_t* actions, const posix_spawnattr_t* attributes)
{
    auto argv = pointers(arguments);
    auto envp = pointers(environment);
    pid_t pid = -1;
    int error = ::posix_spawn(&pid, argv[0], actions, attributes, argv.data(), envp.data());
    if (error != 0)
        throw std::runtime_error("Could not start " + arguments[0] + ": " + std::strerror(error));
    return pid;
}

std::vector<std::string> currentEnvironment()
{
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry)
        environment.emplace_back(*entry);
    return environment;
}

} // namespace

// The program's path through PATH, or "" when it is not installed.
std::string programPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::string_view folders = path != nullptr ? path : "/usr/bin:/bin";
    while (!folders.empty()) {
        auto colon = folders.find(':');
        auto candidate = std::string(folders.substr(0, colon)) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        folders = colon == std::string_view::npos ? std::string_view {} : folders.substr(colon + 1);
    }
    return "";
}

CommandResult runCommand(const std::vector<std::string>& arguments)
{
    // Files rather than pipes: nothing can fill up and stall the child.
    TemporaryFolder folder;
    auto outputPath = folder.path("output");
    auto errorsPath = folder.path("errors");
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::posix_spawn_file_actions_addopen(&actions, 2, errorsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    try {
        pid = spawn(arguments, currentEnvironment(), &actions, nullptr);
    } catch (...) {
        ::posix_spawn_file_actions_destroy(&actions);
        throw;
    }
    ::posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return { exitStatusOf(status), readFile(outputPath), readFile(errorsPath) };
}

ChildProcess::ChildProcess(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& environment)
{
    std::vector<std::string> variables;
    for (auto& entry : currentEnvironment()) {
        auto name = entry.substr(0, entry.find('='));
        if (!environment.contains(name))
            variables.push_back(entry);
    }
    for (const auto& [name, value] : environment) {
        if (!value.empty())
            variables.push_back(name + "=" + value);
    }
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    ::posix_spawnattr_setsigmask(&attributes, &blocked);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    try {
        pid_ = spawn(arguments, std::move(variables), nullptr, &attributes);
    } catch (...) {
        ::posix_spawnattr_destroy(&attributes);
        throw;
    }
    ::posix_spawnattr_destroy(&attributes);
}

ChildProcess::~ChildProcess()
{
    if (pid_ > 0 && !exitStatus_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

void ChildProcess::signal(int number) const
{
    ::kill(pid_, number);
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!exitStatus_) {
        int status = 0;
        pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            exitStatus_ = exitStatusOf(status);
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return exitStatus_;
}

} // namespace quillmark::testing
