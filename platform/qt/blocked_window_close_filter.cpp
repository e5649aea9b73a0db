#include "platform/qt/blocked_window_close_filter.hpp"

#include <QCoreApplication>
#include <QGuiApplication>

#include <cstdlib>
#include <xcb/xcb.h>

namespace quillmark::platform::qt {
namespace {

std::uint32_t internedAtom(xcb_connection_t* connection, const char* name)
{
    auto cookie = xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::char_traits<char>::length(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    if (!reply)
        return 0;
    const std::uint32_t atom = reply->atom;
    std::free(reply);
    return atom;
}

} // namespace

BlockedWindowCloseFilter::BlockedWindowCloseFilter(QWidget& window, std::function<bool()> closeRequested)
    : window_(&window)
    , closeRequested_(std::move(closeRequested))
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return;
    protocolsAtom_ = internedAtom(x11->connection(), "WM_PROTOCOLS");
    deleteWindowAtom_ = internedAtom(x11->connection(), "WM_DELETE_WINDOW");
    if (protocolsAtom_ && deleteWindowAtom_)
        QCoreApplication::instance()->installNativeEventFilter(this);
}

BlockedWindowCloseFilter::~BlockedWindowCloseFilter()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool BlockedWindowCloseFilter::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t" || !window_ || !closeRequested_)
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE)
        return false;
    const auto* client = static_cast<const xcb_client_message_event_t*>(message);
    if (client->format != 32 || client->type != protocolsAtom_ || client->data.data32[0] != deleteWindowAtom_)
        return false;
    if (client->window != static_cast<xcb_window_t>(window_->winId()))
        return false;
    return closeRequested_();
}

} // namespace quillmark::platform::qt
