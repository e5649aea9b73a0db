#pragma once

#include <optional>
#include <string>

namespace quillmark::platform {

// What the desktop's menu needs to list and start an installed application.
struct DesktopEntry {
    std::string name;
    // The absolute path of the program, started without arguments.
    std::string program;
    // The folder the program starts in.
    std::string workingFolder;
    // A name in the icon theme; none when the application brings no icon.
    std::optional<std::string> icon;
    // Menu categories, each followed by ";".
    std::string categories;
    // The X11 window class of the program's windows, by which the desktop
    // ties a window to its entry.
    std::string windowClass;
};

// The text of a desktop entry file for `entry`. Paths may hold blanks,
// quotes, dollars, backslashes and percent signs; each is written so that the
// desktop reads back exactly the path given. Throws a platform::Error when a
// value holds a control character or bytes that are not UTF-8 text, which an
// entry cannot carry.
std::string desktopEntryText(const DesktopEntry& entry);

} // namespace quillmark::platform
