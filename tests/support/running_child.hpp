#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace quillmark::testing {

// A program the test starts as its own child, its standard input a pipe that
// stays open until closeInput(), so a script can wait with "read" without
// starting other processes. Until it is collected, an ended child stays a
// zombie, which the tests rely on.
class RunningChild {
public:
    explicit RunningChild(const std::vector<std::string>& arguments);
    ~RunningChild();
    RunningChild(const RunningChild&) = delete;
    RunningChild& operator=(const RunningChild&) = delete;

    pid_t pid() const { return pid_; }
    // The state letter of /proc/<pid>/stat ('R', 'S', 'Z', ...), or 0 once collected.
    char state() const;
    // Collects the child once it has ended; true when it had.
    bool collect();
    // The wait status of a collected child (WIFEXITED, WIFSIGNALED, ...).
    int waitStatus() const { return status_; }
    // Ends the child's input: a script waiting in "read" goes on.
    void closeInput();

private:
    pid_t pid_ = -1;
    int input_ = -1;
    bool collected_ = false;
    int status_ = 0;
};

// Polls `condition` every few milliseconds; false when `limit` passes first.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(5));

} // namespace quillmark::testing
