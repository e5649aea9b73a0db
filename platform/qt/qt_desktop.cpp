#include "platform/qt/qt_desktop.hpp"

#include "platform/qt/blocked_window_close_filter.hpp"
#include "platform/qt/installer_window.hpp"
#include "platform/qt/qt_repeating_timer.hpp"
#include "platform/qt/sheets.hpp"

#include <QApplication>
#include <QDialog>
#include <QScreen>

namespace quillmark::platform::qt {

QtDesktop::QtDesktop(std::function<void()> endApplication)
    : endApplication_(std::move(endApplication))
{
    if (!endApplication_)
        endApplication_ = [] { QCoreApplication::exit(0); };
}

QtDesktop::~QtDesktop() = default;

void QtDesktop::showWindow(const WindowDescription& description)
{
    WindowHooks hooks;
    hooks.shouldClose = [this] {
        const bool mayClose = delegate_ && delegate_->windowShouldClose();
        // The installer has no life without its window.
        if (mayClose)
            QMetaObject::invokeMethod(window_.get(), [this] { terminate(); }, Qt::QueuedConnection);
        return mayClose;
    };
    hooks.quitRequested = [this] { terminate(); };
    closeFilter_.reset();
    window_ = std::make_unique<InstallerWindow>(description, std::move(hooks));
    // Closing the window while a sheet is up is the sheet's Cancel followed
    // by the close the window would get without it.
    closeFilter_ = std::make_unique<BlockedWindowCloseFilter>(*window_, [this] {
        QPointer<QDialog> sheet = sheet_;
        if (!sheet || !sheet->isVisible())
            return false;
        sheet->reject();
        QMetaObject::invokeMethod(window_.get(), [this] { window_->close(); }, Qt::QueuedConnection);
        return true;
    });

    if (QScreen* screen = window_->screen())
        window_->move(screen->availableGeometry().center() - window_->rect().center());
    window_->show();
    activate();
    window_->focusStartingControl();
}

void QtDesktop::activate()
{
    if (!window_)
        return;
    window_->raise();
    window_->activateWindow();
}

void QtDesktop::terminate()
{
    // A quit request while a sheet is up answers the sheet first, as its
    // Cancel would; the delegate then decides as it does without a sheet.
    if (QPointer<QDialog> sheet = sheet_; sheet && sheet->isVisible())
        sheet->reject();
    if (delegate_ && delegate_->applicationShouldTerminate() == TerminateReply::cancel)
        return;
    endApplication_();
}

void QtDesktop::showAlert(const AlertDescription& alert, std::function<void(long response)> completion)
{
    sheet_ = showAlertSheet(window_.get(), alert, [this, completion = std::move(completion)](long response) {
        sheetEnded();
        completion(response);
    });
    keepQuitWorking();
}

void QtDesktop::showOpenPanel(const OpenPanelDescription& panel,
    std::function<void(long response, std::optional<FileURL> chosen)> completion)
{
    sheet_ = showBundleOpenPanel(window_.get(), panel,
        [this, completion = std::move(completion)](long response, std::optional<FileURL> chosen) {
            sheetEnded();
            completion(response, std::move(chosen));
        });
    keepQuitWorking();
}

void QtDesktop::keepQuitWorking()
{
    // The window's shortcuts do not reach past its modal sheet; the Quit
    // item's does, once the sheet carries it too.
    if (sheet_ && window_)
        sheet_->addAction(window_->quitAction());
}

void QtDesktop::sheetEnded()
{
    sheet_.clear();
    // The window takes the keys back from its sheet, as it would under a
    // window manager, so Return, Escape and Ctrl+Q reach it again, and the
    // focus goes back to where the user starts.
    if (window_) {
        window_->activateWindow();
        window_->focusStartingControl();
    }
}

std::shared_ptr<RepeatingTimer> QtDesktop::scheduleRepeatingTimer(Clock::duration interval,
    std::function<void(RepeatingTimer& timer)> tick)
{
    return QtRepeatingTimer::start(interval, std::move(tick));
}

Desktop::Clock::time_point QtDesktop::now() const { return Clock::now(); }

} // namespace quillmark::platform::qt
