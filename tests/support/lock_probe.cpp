#include "tests/support/lock_probe.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quillmark::testing {
namespace {

int waitForChild(pid_t child)
{
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            throw std::runtime_error("Could not wait for the lock process: " + std::string(std::strerror(errno)));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

} // namespace

bool anotherProcessCanLock(const std::string& path)
{
    pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error("Could not start a lock process: " + std::string(std::strerror(errno)));
    if (child == 0) {
        int file = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        if (file < 0)
            ::_exit(2);
        ::_exit(::flock(file, LOCK_EX | LOCK_NB) == 0 ? 0 : 1);
    }
    int code = waitForChild(child);
    if (code == 2)
        throw std::runtime_error("The lock process could not open " + path);
    return code == 0;
}

LockHoldingProcess::LockHoldingProcess(const std::string& path)
{
    int ready[2];
    int release[2];
    if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(release, O_CLOEXEC) != 0)
        throw std::runtime_error("Could not make pipes: " + std::string(std::strerror(errno)));
    child_ = ::fork();
    if (child_ < 0)
        throw std::runtime_error("Could not start a lock process: " + std::string(std::strerror(errno)));
    if (child_ == 0) {
        ::close(ready[0]);
        ::close(release[1]);
        int file = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        char answer = file >= 0 && ::flock(file, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
        (void)!::write(ready[1], &answer, 1);
        // Hold the lock until the parent closes its end of the pipe.
        char ignored;
        while (::read(release[0], &ignored, 1) < 0 && errno == EINTR) {
        }
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    release_ = release[1];
    char answer = 'n';
    ssize_t count = ::read(ready[0], &answer, 1);
    ::close(ready[0]);
    if (count != 1 || answer != 'y') {
        ::close(release_);
        waitForChild(child_);
        throw std::runtime_error("The lock process could not lock " + path);
    }
}

LockHoldingProcess::~LockHoldingProcess()
{
    ::close(release_);
    waitForChild(child_);
}

} // namespace quillmark::testing
