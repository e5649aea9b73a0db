#pragma once

#include "platform/desktop/application_delegate.hpp"
#include "platform/qt/qt_controls.hpp"
#include "platform/qt/qt_desktop.hpp"
#include "platform/qt/qt_task_queues.hpp"

#include <QApplication>

namespace quillmark::platform::qt {

// The installer's application object on Qt: the event loop, the controls,
// the desktop and the queues. Made first, before the delegate, because
// controls can only be made once the application exists.
class QtApplication {
public:
    // Command-line arguments are not the installer's input; Qt gets the
    // program's name alone, so no option can change how it runs.
    explicit QtApplication(const char* programName);

    ControlFactory& controls() { return controls_; }
    QtDesktop& desktop() { return desktop_; }
    TaskQueues& queues() { return queues_; }

    void setDelegate(ApplicationDelegate& delegate);

    // Runs the event loop until the delegate lets the application end.
    // Tells the delegate that launching has finished once the loop runs,
    // and turns SIGTERM, SIGINT and SIGHUP into quit requests meanwhile.
    int run();

private:
    int argc_ = 1;
    char* argv_[2];
    QApplication application_;
    QtControlFactory controls_;
    QtTaskQueues queues_;
    QtDesktop desktop_;
    ApplicationDelegate* delegate_ = nullptr;
};

} // namespace quillmark::platform::qt
