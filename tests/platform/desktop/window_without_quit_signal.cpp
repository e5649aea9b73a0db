// A desktop program that, like most, leaves SIGTERM to its default action:
// it can be asked to quit only through its window. It shows one window that
// takes the window manager's close request, touches the file named by its
// argument once the window is up, and exits with status 0 when asked to
// close.
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <xcb/xcb.h>

namespace {

xcb_atom_t atomNamed(xcb_connection_t* connection, const char* name)
{
    auto* reply = xcb_intern_atom_reply(connection,
        xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    xcb_atom_t atom = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection))
        return 3;
    auto* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    auto window = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 200, 100, 0,
        XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    auto protocols = atomNamed(connection, "WM_PROTOCOLS");
    auto deleteWindow = atomNamed(connection, "WM_DELETE_WINDOW");
    auto processNumber = atomNamed(connection, "_NET_WM_PID");
    uint32_t pid = static_cast<uint32_t>(::getpid());
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, processNumber, XCB_ATOM_CARDINAL, 32, 1, &pid);
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, protocols, XCB_ATOM_ATOM, 32, 1, &deleteWindow);
    xcb_map_window(connection, window);
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));

    int ready = ::open(argv[1], O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (ready < 0)
        return 4;
    ::close(ready);

    while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
        bool closing = false;
        if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
            auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
            closing = message->type == protocols && message->data.data32[0] == deleteWindow;
        }
        std::free(event);
        if (closing) {
            xcb_disconnect(connection);
            return 0;
        }
    }
    xcb_disconnect(connection);
    return 5;
}
