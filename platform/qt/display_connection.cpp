#include "platform/qt/display_connection.hpp"

#include "platform/unique_fd.hpp"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>
#include <vector>
#include <xcb/xcb.h>

namespace quillmark::platform::qt {
namespace {

std::string variable(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string quoted(const std::string& text)
{
    return "\u201C" + text + "\u201D";
}

std::optional<std::string> whyX11DoesNotOpen()
{
    auto name = variable("DISPLAY");
    if (name.empty())
        return "No X11 display is named (DISPLAY is not set).";
    std::unique_ptr<xcb_connection_t, void (*)(xcb_connection_t*)> connection(
        xcb_connect(name.c_str(), nullptr), xcb_disconnect);
    switch (xcb_connection_has_error(connection.get())) {
    case 0:
        return std::nullopt;
    case XCB_CONN_CLOSED_PARSE_ERR:
        return quoted(name) + " is not the name of an X11 display.";
    case XCB_CONN_CLOSED_INVALID_SCREEN:
        return "The X11 display " + quoted(name) + " has no such screen.";
    case XCB_CONN_ERROR:
        return "Nothing answers at the X11 display " + quoted(name) + ".";
    default:
        return "The X11 display " + quoted(name) + " refused the connection.";
    }
}

// The socket the Wayland client library connects to: WAYLAND_DISPLAY as a
// path, or a name in XDG_RUNTIME_DIR ("wayland-0" when unnamed).
std::optional<std::string> whyWaylandDoesNotOpen()
{
    // A compositor that started the installer may hand it a connected socket.
    if (!variable("WAYLAND_SOCKET").empty())
        return std::nullopt;
    auto name = variable("WAYLAND_DISPLAY");
    if (name.empty())
        name = "wayland-0";
    std::string path = name;
    if (name.front() != '/') {
        auto runtime = variable("XDG_RUNTIME_DIR");
        if (runtime.empty())
            return "The Wayland display " + quoted(name) + " cannot be found: XDG_RUNTIME_DIR is not set.";
        path = runtime + "/" + name;
    }
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return "The Wayland display " + quoted(name) + " has too long a path.";
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (socket && ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return std::nullopt;
    return "Nothing answers at the Wayland display " + quoted(name) + ".";
}

enum class DisplayKind { x11, wayland, other };

DisplayKind kindOfPlatform(std::string_view platform)
{
    auto base = platform.substr(0, platform.find(':'));
    if (base == "xcb")
        return DisplayKind::x11;
    if (base.starts_with("wayland"))
        return DisplayKind::wayland;
    return DisplayKind::other;
}

std::vector<DisplayKind> displaysTried()
{
    std::vector<DisplayKind> kinds;
    auto chosen = variable("QT_QPA_PLATFORM");
    if (!chosen.empty()) {
        std::istringstream platforms(chosen);
        for (std::string platform; std::getline(platforms, platform, ';');)
            if (!platform.empty())
                kinds.push_back(kindOfPlatform(platform));
        return kinds;
    }
    if (!variable("WAYLAND_DISPLAY").empty() || variable("XDG_SESSION_TYPE") == "wayland")
        kinds.push_back(DisplayKind::wayland);
    kinds.push_back(DisplayKind::x11);
    return kinds;
}

} // namespace

std::optional<std::string> whyNoDisplayOpens()
{
    std::string reasons;
    for (auto kind : displaysTried()) {
        if (kind == DisplayKind::other)
            return std::nullopt;
        auto why = kind == DisplayKind::x11 ? whyX11DoesNotOpen() : whyWaylandDoesNotOpen();
        if (!why)
            return std::nullopt;
        reasons += (reasons.empty() ? "" : " ") + *why;
    }
    if (reasons.empty())
        return "No graphical display is named.";
    return reasons;
}

} // namespace quillmark::platform::qt
