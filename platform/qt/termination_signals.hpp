#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace quillmark::platform::qt {

// Turns SIGTERM, SIGINT and SIGHUP into quit requests delivered on the main
// thread, so that a polite signal takes the same road as the Quit menu item
// and can be refused while an installation cannot be interrupted.
//
// The signal handler only writes a byte into a pipe; the main thread's event
// loop notices the pipe and calls `quitRequested`. While an object exists the
// three signals no longer end the process; destroying it restores the
// dispositions it found. At most one object may exist at a time.
class TerminationSignals {
public:
    explicit TerminationSignals(std::function<void()> quitRequested);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    void drain();

    std::function<void()> quitRequested_;
    int readEnd_ = -1;
    int writeEnd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace quillmark::platform::qt
