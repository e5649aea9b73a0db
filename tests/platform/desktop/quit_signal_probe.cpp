// A program that is or is not a running copy, and treats SIGTERM one of the
// ways real programs do, for the quit request's tests. It creates the file
// named by READY once it is set up, then:
//
//   map FILE READY [exec]   maps FILE for reading (and running, with "exec")
//                           and catches SIGTERM, as a document viewer that
//                           is no copy may; waits until its input ends
//   block-briefly READY     blocks SIGTERM with nothing reading it, until its
//                           input ends; then unblocks it, so a SIGTERM sent
//                           meanwhile ends it, and exits with 0 otherwise
//   signalfd READY          blocks SIGTERM and reads it through a signalfd;
//                           exits with 0 once it has read it
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/mman.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t asked = 0;

bool announceReady(const char* path)
{
    int ready = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (ready < 0)
        return false;
    ::close(ready);
    return true;
}

void waitForEndOfInput()
{
    char byte;
    while (::read(STDIN_FILENO, &byte, 1) > 0 || (errno == EINTR && !asked)) {
    }
}

sigset_t onlyTerm()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    return set;
}

int mapFile(const char* file, const char* ready, bool executable)
{
    int descriptor = ::open(file, O_RDONLY | O_CLOEXEC);
    struct stat status {};
    if (descriptor < 0 || ::fstat(descriptor, &status) != 0 || status.st_size == 0)
        return 3;
    int protection = PROT_READ | (executable ? PROT_EXEC : 0);
    if (::mmap(nullptr, static_cast<size_t>(status.st_size), protection, MAP_PRIVATE, descriptor, 0) == MAP_FAILED)
        return 4;
    ::close(descriptor);
    struct sigaction action {};
    action.sa_handler = [](int) { asked = 1; };
    if (::sigaction(SIGTERM, &action, nullptr) != 0)
        return 5;
    if (!announceReady(ready))
        return 6;
    waitForEndOfInput();
    return asked ? 10 : 0;
}

int blockBriefly(const char* ready)
{
    sigset_t term = onlyTerm();
    if (::sigprocmask(SIG_BLOCK, &term, nullptr) != 0 || !announceReady(ready))
        return 3;
    waitForEndOfInput();
    ::sigprocmask(SIG_UNBLOCK, &term, nullptr);
    return 0;
}

int readThroughSignalfd(const char* ready)
{
    sigset_t term = onlyTerm();
    if (::sigprocmask(SIG_BLOCK, &term, nullptr) != 0)
        return 3;
    int descriptor = ::signalfd(-1, &term, SFD_CLOEXEC);
    if (descriptor < 0 || !announceReady(ready))
        return 4;
    signalfd_siginfo info {};
    return ::read(descriptor, &info, sizeof info) == static_cast<ssize_t>(sizeof info) ? 0 : 5;
}

} // namespace

int main(int argc, char** argv)
{
    std::string_view mode = argc > 1 ? argv[1] : "";
    if (mode == "map" && (argc == 4 || (argc == 5 && std::string_view(argv[4]) == "exec")))
        return mapFile(argv[2], argv[3], argc == 5);
    if (mode == "block-briefly" && argc == 3)
        return blockBriefly(argv[2]);
    if (mode == "signalfd" && argc == 3)
        return readThroughSignalfd(argv[2]);
    return 2;
}
