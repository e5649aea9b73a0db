// A desktop program that, like most, leaves SIGTERM to its default action:
// it can be asked to quit only through its window. It shows one window that
// takes the window manager's close request, writes the window's number to
// the file named by its first argument once the window is up, and exits when
// asked to close: with 0 when the request carries no time, as the
// installer's does, and with 10 when it carries one.
//
// With a second argument, a process number, it sets that number as the
// window's _NET_WM_PID, as any client may on any window.
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <string>
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
    if (argc != 2 && argc != 3)
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
    uint32_t pid = argc == 3 ? static_cast<uint32_t>(std::stoul(argv[2])) : static_cast<uint32_t>(::getpid());
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, processNumber, XCB_ATOM_CARDINAL, 32, 1, &pid);
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, protocols, XCB_ATOM_ATOM, 32, 1, &deleteWindow);
    xcb_map_window(connection, window);
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));

    // Written whole before it appears under its name.
    std::string partial = std::string(argv[1]) + ".partial";
    std::FILE* ready = std::fopen(partial.c_str(), "w");
    if (ready == nullptr)
        return 4;
    std::fprintf(ready, "%u\n", window);
    if (std::fclose(ready) != 0 || std::rename(partial.c_str(), argv[1]) != 0)
        return 4;

    while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
        int closing = -1;
        if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
            auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
            if (message->type == protocols && message->data.data32[0] == deleteWindow)
                closing = message->data.data32[1] == XCB_CURRENT_TIME ? 0 : 10;
        }
        std::free(event);
        if (closing >= 0) {
            xcb_disconnect(connection);
            return closing;
        }
    }
    xcb_disconnect(connection);
    return 5;
}
