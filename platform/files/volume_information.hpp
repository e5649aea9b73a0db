#pragma once

#include "platform/file_url.hpp"

#include <cstdint>

namespace quillmark::platform {

// Whether the volume holding the item is mounted read-only. Throws a
// platform::Error in the "file" domain when the volume cannot be asked.
bool volumeIsReadOnly(const FileURL& url);

struct VolumeSpace {
    // What an unprivileged writer may still fill (the part the volume keeps
    // for root is left out), in bytes.
    std::uint64_t available = 0;
    // The unit in which the volume hands out room for files.
    std::uint64_t blockSize = 0;
};

// The room left on the volume holding the item. Throws a platform::Error in
// the "file" domain when the volume cannot be asked.
VolumeSpace volumeSpace(const FileURL& url);

// Where removable volumes appear, for an open panel that starts there:
// "/Volumes" where it exists, else /run/media/$USER, /media/$USER, /media.
FileURL volumesFolder();

} // namespace quillmark::platform
