#pragma once

#include <string>
#include <sys/types.h>

namespace quillmark::testing {

// Whether a separate process can take the exclusive lock on the file at
// `path` right now (without waiting). The file must exist.
bool anotherProcessCanLock(const std::string& path);

// A separate process that holds the exclusive lock on the file at `path`
// (created if missing) from construction until destruction.
class LockHoldingProcess {
public:
    explicit LockHoldingProcess(const std::string& path);
    ~LockHoldingProcess();
    LockHoldingProcess(const LockHoldingProcess&) = delete;
    LockHoldingProcess& operator=(const LockHoldingProcess&) = delete;

private:
    pid_t child_ = -1;
    int release_ = -1;
};

} // namespace quillmark::testing
