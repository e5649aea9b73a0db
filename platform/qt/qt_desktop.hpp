#pragma once

#include "platform/desktop/application_delegate.hpp"
#include "platform/desktop/desktop.hpp"

#include <QDialog>
#include <QPointer>

#include <functional>
#include <memory>

namespace quillmark::platform::qt {

class BlockedWindowCloseFilter;
class InstallerWindow;

// The desktop on Qt Widgets. Sheets are window-modal dialogs on the
// installer window; timers are Qt timers on the main loop. The delegate is
// asked before the application ends and before the window closes.
class QtDesktop final : public Desktop {
public:
    // `endApplication` leaves the event loop once the delegate agreed to end;
    // by default it ends the application's main loop.
    explicit QtDesktop(std::function<void()> endApplication = {});
    ~QtDesktop() override;

    void setDelegate(ApplicationDelegate& delegate) { delegate_ = &delegate; }

    void showWindow(const WindowDescription& window) override;
    void activate() override;
    void terminate() override;
    void showAlert(const AlertDescription& alert, std::function<void(long response)> completion) override;
    void showOpenPanel(const OpenPanelDescription& panel,
        std::function<void(long response, std::optional<FileURL> chosen)> completion) override;
    std::shared_ptr<RepeatingTimer> scheduleRepeatingTimer(Clock::duration interval,
        std::function<void(RepeatingTimer& timer)> tick) override;
    Clock::time_point now() const override;

    // The window once it is shown; tests measure it.
    InstallerWindow* window() const { return window_.get(); }

private:
    void keepQuitWorking();
    void sheetEnded();

    std::function<void()> endApplication_;
    ApplicationDelegate* delegate_ = nullptr;
    std::unique_ptr<InstallerWindow> window_;
    std::unique_ptr<BlockedWindowCloseFilter> closeFilter_;
    // The alert or open panel in front of the window, while one is.
    QPointer<QDialog> sheet_;
};

} // namespace quillmark::platform::qt
