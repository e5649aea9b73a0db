#pragma once

#include "platform/file_url.hpp"

#include <optional>

namespace quillmark::platform {

// Where the desktop looks for applications and icons: a data folder (its
// "applications" and "icons" folders) and the mode of folders made in it.
struct DesktopDataFolder {
    FileURL url;
    unsigned folderMode = 0700;
};

// The data folder that lists an application installed at `bundle`: for a
// bundle in the user's home folder, the user's own ($XDG_DATA_HOME, else
// ~/.local/share); for any other, /usr/local/share when this process may
// write there, else none.
std::optional<DesktopDataFolder> desktopDataFolder(const FileURL& bundle);

// Makes an installed application bundle known to the desktop, as desktops
// elsewhere do by themselves for an application put into an applications
// folder: its icon goes into the data folder's "hicolor" theme, then a desktop
// entry "<CFBundleIdentifier>.desktop" that starts the bundle's program the
// way an opened application starts (from "/", without arguments) goes into
// its "applications" folder, replacing the one an earlier installation wrote;
// then update-desktop-database, when installed, brings that folder's index up
// to date. Blocking disk work. Throws a platform::Error when the bundle or
// the data folder does not allow it.
void registerWithDesktop(const FileURL& bundle);

// The same into a given data folder.
void registerWithDesktop(const FileURL& bundle, const DesktopDataFolder& dataFolder);

} // namespace quillmark::platform
