#pragma once

#include "platform/desktop/owned_folder.hpp"
#include "platform/file_url.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace quillmark::platform {

// A square PNG picture of one of the sizes the desktop's icon theme sorts by.
struct ThemeIcon {
    unsigned size = 0;
    std::string png;
};

// The icon a bundle names under CFBundleIconFile in its Contents/Info.plist,
// read from its Contents/Resources ("Name" or "Name.png"); nothing when it
// names none. Throws a platform::Error when the named icon cannot be read or
// is not a PNG picture the icon theme can hold.
std::optional<ThemeIcon> bundleIcon(const FileURL& bundle, std::string_view iconFile);

// Puts the icon into the "hicolor" theme of a data folder, under `name`:
// icons/hicolor/<size>x<size>/apps/<name>.png.
void installThemeIcon(const OwnedFolder& dataFolder, std::string_view name, const ThemeIcon& icon,
    unsigned folderMode);

} // namespace quillmark::platform
