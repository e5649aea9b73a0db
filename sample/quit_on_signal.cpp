#include "sample/quit_on_signal.hpp"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

namespace quillmark::sample {

int holdQuitSignals(const QuitPolicy& policy)
{
    if (policy.declines)
        std::signal(SIGTERM, SIG_IGN);
    sigset_t quitSignals;
    sigemptyset(&quitSignals);
    sigaddset(&quitSignals, SIGINT);
    if (!policy.declines)
        sigaddset(&quitSignals, SIGTERM);
    sigprocmask(SIG_BLOCK, &quitSignals, nullptr);
    // The descriptor exists from the start, so from the start the signal is
    // seen as read rather than merely blocked.
    return ::signalfd(-1, &quitSignals, SFD_NONBLOCK | SFD_CLOEXEC);
}

void quitEventLoopOnSignal(int fd, const QuitPolicy& policy)
{
    if (fd < 0)
        return;
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [fd, delay = policy.delay, notifier] {
        signalfd_siginfo info {};
        while (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        }
        // One request is enough; later ones change nothing.
        notifier->setEnabled(false);
        QTimer::singleShot(delay, QCoreApplication::instance(), &QCoreApplication::quit);
    });
}

} // namespace quillmark::sample
