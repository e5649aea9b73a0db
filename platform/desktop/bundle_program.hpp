#pragma once

#include "platform/file_url.hpp"
#include "platform/plist/property_list.hpp"

namespace quillmark::platform {

// The folder an application started by the installer or from its menu entry
// starts in: not the installer's, so the disk it came from stays free to eject.
inline constexpr const char* applicationStartFolder = "/";

// The program of the bundle at `bundle` whose Contents/Info.plist is `info`:
// Contents/MacOS/<CFBundleExecutable>. Throws a platform::Error when the
// bundle names no program, or one outside that folder.
FileURL bundleProgram(const FileURL& bundle, const PropertyListValue& info);

} // namespace quillmark::platform
