#pragma once

#include <QAbstractNativeEventFilter>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>

namespace quillmark::platform::qt {

// Qt drops a window manager's close request for a window that a modal sheet
// blocks, yet closing the window must quit the installer whether a sheet is
// up or not. This filter sees the X11 request (WM_DELETE_WINDOW) before Qt
// drops it and offers it to `closeRequested`, which answers whether it took
// the request; Qt handles the ones it does not take as usual. Under Wayland
// the filter sees nothing: the request reaches Qt through the compositor's
// protocol, not as an X11 event.
class BlockedWindowCloseFilter final : public QAbstractNativeEventFilter {
public:
    BlockedWindowCloseFilter(QWidget& window, std::function<bool()> closeRequested);
    ~BlockedWindowCloseFilter() override;

    BlockedWindowCloseFilter(const BlockedWindowCloseFilter&) = delete;
    BlockedWindowCloseFilter& operator=(const BlockedWindowCloseFilter&) = delete;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    QPointer<QWidget> window_;
    std::function<bool()> closeRequested_;
    std::uint32_t protocolsAtom_ = 0;
    std::uint32_t deleteWindowAtom_ = 0;
};

} // namespace quillmark::platform::qt
