#include "platform/qt/qt_application.hpp"

#include "platform/qt/termination_signals.hpp"

#include <QTimer>

namespace quillmark::platform::qt {

QtApplication::QtApplication(const char* programName)
    : argv_ { const_cast<char*>(programName), nullptr }
    , application_(argc_, argv_)
{
    QApplication::setApplicationName(QStringLiteral("Quillmark Installer"));
    // The window never closes by itself; only the delegate ends the application.
    QApplication::setQuitOnLastWindowClosed(false);
}

void QtApplication::setDelegate(ApplicationDelegate& delegate)
{
    delegate_ = &delegate;
    desktop_.setDelegate(delegate);
}

int QtApplication::run()
{
    TerminationSignals politeSignals([this] { desktop_.terminate(); });
    QTimer::singleShot(0, &application_, [this] {
        if (delegate_)
            delegate_->applicationDidFinishLaunching();
    });
    return QApplication::exec();
}

} // namespace quillmark::platform::qt
