#include "platform/desktop/window_close_request.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <vector>
#include <xcb/res.h>
#include <xcb/xcb.h>

// Only X11 windows can be reached this way. A native Wayland client's
// windows are closed by its compositor alone: the protocol lets no other
// client find them or ask them to close, so under Wayland only the copies
// that run through XWayland (and share DISPLAY) can be asked here.

namespace quillmark::platform {
namespace {

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, FreeReply>;

struct Disconnect {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};

// An atom that some client has already named, or XCB_ATOM_NONE: a property
// no client ever named cannot be set on any window.
xcb_atom_t existingAtom(xcb_connection_t* connection, const char* name)
{
    ReplyPtr<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection,
        xcb_intern_atom(connection, 1, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

std::vector<uint32_t> numbersOf(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property, xcb_atom_t type)
{
    ReplyPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection,
        xcb_get_property(connection, 0, window, property, type, 0, 4096), nullptr));
    if (!reply || reply->format != 32 || reply->type != type)
        return {};
    const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    return std::vector<uint32_t>(values, values + xcb_get_property_value_length(reply.get()) / 4);
}

// The process of the client that created `window`, as the server itself
// knows it from the client's local connection. Unlike _NET_WM_PID, which any
// client may set on any window, no client can change this. A client of
// another machine, or one the server cannot name a process for, has none.
std::optional<pid_t> owningProcess(xcb_connection_t* connection, xcb_window_t window)
{
    xcb_res_client_id_spec_t spec { window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID };
    ReplyPtr<xcb_res_query_client_ids_reply_t> reply(
        xcb_res_query_client_ids_reply(connection, xcb_res_query_client_ids(connection, 1, &spec), nullptr));
    if (!reply)
        return std::nullopt;
    for (auto id = xcb_res_query_client_ids_ids_iterator(reply.get()); id.rem > 0; xcb_res_client_id_value_next(&id)) {
        if (!(id.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) || xcb_res_client_id_value_value_length(id.data) != 1)
            continue;
        return static_cast<pid_t>(*xcb_res_client_id_value_value(id.data));
    }
    return std::nullopt;
}

bool canNameOwners(xcb_connection_t* connection)
{
    const auto* extension = xcb_get_extension_data(connection, &xcb_res_id);
    if (extension == nullptr || !extension->present)
        return false;
    // Client ids came with version 1.2 of the extension.
    ReplyPtr<xcb_res_query_version_reply_t> version(
        xcb_res_query_version_reply(connection, xcb_res_query_version(connection, 1, 2), nullptr));
    return version && (version->server_major > 1 || (version->server_major == 1 && version->server_minor >= 2));
}

// Top-level windows: the root's children when no window manager runs, and
// the manager's client list when one does (it puts each client window inside
// a frame of its own, so the root's children are then its frames).
std::set<xcb_window_t> topLevelWindows(xcb_connection_t* connection, xcb_atom_t clientList)
{
    std::set<xcb_window_t> windows;
    for (auto screen = xcb_setup_roots_iterator(xcb_get_setup(connection)); screen.rem > 0; xcb_screen_next(&screen)) {
        auto root = screen.data->root;
        ReplyPtr<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr));
        if (tree) {
            const auto* children = xcb_query_tree_children(tree.get());
            windows.insert(children, children + xcb_query_tree_children_length(tree.get()));
        }
        if (clientList != XCB_ATOM_NONE)
            for (auto window : numbersOf(connection, root, clientList, XCB_ATOM_WINDOW))
                windows.insert(window);
    }
    return windows;
}

} // namespace

int askWindowsToClose(pid_t pid)
{
    std::unique_ptr<xcb_connection_t, Disconnect> connection(xcb_connect(nullptr, nullptr));
    if (xcb_connection_has_error(connection.get()))
        return 0;
    auto* c = connection.get();
    if (!canNameOwners(c))
        return 0;
    auto protocols = existingAtom(c, "WM_PROTOCOLS");
    auto deleteWindow = existingAtom(c, "WM_DELETE_WINDOW");
    if (protocols == XCB_ATOM_NONE || deleteWindow == XCB_ATOM_NONE)
        return 0;

    int asked = 0;
    for (auto window : topLevelWindows(c, existingAtom(c, "_NET_CLIENT_LIST"))) {
        if (owningProcess(c, window) != pid)
            continue;
        auto supported = numbersOf(c, window, protocols, XCB_ATOM_ATOM);
        if (std::find(supported.begin(), supported.end(), deleteWindow) == supported.end())
            continue;
        xcb_client_message_event_t request {};
        request.response_type = XCB_CLIENT_MESSAGE;
        request.format = 32;
        request.window = window;
        request.type = protocols;
        request.data.data32[0] = deleteWindow;
        request.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&request));
        ++asked;
    }
    // A round trip, so the requests have reached the server before the
    // connection closes.
    ReplyPtr<xcb_get_input_focus_reply_t> synced(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    return asked;
}

} // namespace quillmark::platform
