#include "platform/qt/termination_signals.hpp"

#include "platform/error.hpp"

#include <QSocketNotifier>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace quillmark::platform::qt {
namespace {

constexpr std::array handledSignals { SIGTERM, SIGINT, SIGHUP };

// The handler may run on any thread at any moment, so it reaches the pipe
// only through this lock-free descriptor.
std::atomic<int> signalPipeWriteEnd { -1 };
std::array<struct sigaction, handledSignals.size()> previousActions {};

extern "C" void forwardSignalToPipe(int number)
{
    const int savedErrno = errno;
    const int fd = signalPipeWriteEnd.load();
    if (fd >= 0) {
        const char byte = static_cast<char>(number);
        // A full pipe already holds a pending request; losing this byte loses nothing.
        [[maybe_unused]] const auto written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(std::function<void()> quitRequested)
    : quitRequested_(std::move(quitRequested))
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        const int failure = errno;
        throw Error(std::string(posixErrorDomain), failure,
            "Could not prepare for quit requests (" + std::string(std::strerror(failure)) + ").");
    }
    readEnd_ = ends[0];
    writeEnd_ = ends[1];

    int expected = -1;
    if (!signalPipeWriteEnd.compare_exchange_strong(expected, writeEnd_)) {
        ::close(readEnd_);
        ::close(writeEnd_);
        throw Error(std::string(posixErrorDomain), EBUSY, "Termination signals are already being handled.");
    }

    notifier_ = std::make_unique<QSocketNotifier>(readEnd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { drain(); });

    struct sigaction action {};
    action.sa_handler = forwardSignalToPipe;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < handledSignals.size(); ++i)
        ::sigaction(handledSignals[i], &action, &previousActions[i]);

    // A launcher may have started us with these signals blocked; a quit
    // request must still arrive.
    sigset_t polite;
    sigemptyset(&polite);
    for (int number : handledSignals)
        sigaddset(&polite, number);
    ::pthread_sigmask(SIG_UNBLOCK, &polite, nullptr);
}

TerminationSignals::~TerminationSignals()
{
    for (std::size_t i = 0; i < handledSignals.size(); ++i)
        ::sigaction(handledSignals[i], &previousActions[i], nullptr);
    signalPipeWriteEnd.store(-1);
    notifier_.reset();
    ::close(readEnd_);
    ::close(writeEnd_);
}

void TerminationSignals::drain()
{
    // Several signals that arrived before the loop woke up make one request:
    // the answer to a quit request does not depend on how often it was asked.
    bool received = false;
    std::array<char, 64> bytes;
    while (::read(readEnd_, bytes.data(), bytes.size()) > 0)
        received = true;
    if (received && quitRequested_)
        quitRequested_();
}

} // namespace quillmark::platform::qt
