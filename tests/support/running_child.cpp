#include "tests/support/running_child.hpp"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <csignal>
#include <cstring>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace quillmark::testing {

RunningChild::RunningChild(const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("Could not make a pipe: ") + std::strerror(errno));
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, ends[0], STDIN_FILENO);
    int failure = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(ends[0]);
    input_ = ends[1];
    if (failure != 0) {
        closeInput();
        throw std::runtime_error("Could not start " + arguments[0] + ": " + std::strerror(failure));
    }
}

void RunningChild::closeInput()
{
    if (input_ >= 0)
        ::close(input_);
    input_ = -1;
}

RunningChild::~RunningChild()
{
    closeInput();
    if (collected_)
        return;
    // Clean-up of the test itself: a child made to refuse SIGTERM can only be
    // ended this way.
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
}

char RunningChild::state() const
{
    if (collected_)
        return 0;
    std::ifstream file("/proc/" + std::to_string(pid_) + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    auto close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size())
        return 0;
    return text[close + 2];
}

bool RunningChild::collect()
{
    if (collected_)
        return true;
    if (::waitpid(pid_, &status_, WNOHANG) == pid_)
        collected_ = true;
    return collected_;
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace quillmark::testing
