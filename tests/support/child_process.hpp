#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace quillmark::testing {

struct CommandResult {
    int exitStatus = -1; // -1 when the process ended by a signal
    std::string output;
    std::string errors;
};

// The program's path through PATH, or "" when it is not installed.
std::string programPath(const std::string& name);

// Runs a program to its end and collects what it printed.
CommandResult runCommand(const std::vector<std::string>& arguments);

// A program started in the background with changes to the environment (an
// empty value removes the variable). SIGTERM starts out blocked in the child,
// so a quit request sent early waits until the program is ready to handle it.
// A child still running at destruction is killed and reaped.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& environment);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    void signal(int number) const;
    // The exit status once the child has ended within `timeout` (-1 for a
    // death by signal); nothing while it still runs.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout);

private:
    pid_t pid_ = -1;
    std::optional<int> exitStatus_;
};

} // namespace quillmark::testing
