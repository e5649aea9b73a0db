#pragma once

#include "platform/file_url.hpp"

namespace quillmark::platform {

// Whether the volume holding the item is mounted read-only. Throws a
// platform::Error in the "file" domain when the volume cannot be asked.
bool volumeIsReadOnly(const FileURL& url);

// Where removable volumes appear, for an open panel that starts there:
// "/Volumes" where it exists, else /run/media/$USER, /media/$USER, /media.
FileURL volumesFolder();

} // namespace quillmark::platform
