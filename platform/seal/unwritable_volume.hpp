#pragma once

#include <cstdint>
#include <optional>

namespace quillmark::platform {

// The id of the mount through which the open item `fd` was reached, one
// that no later mount is ever given (an unmounted disk image mounted again,
// or another image in its place, is another mount); nothing when the kernel
// does not give such ids (before Linux 6.8).
std::optional<std::uint64_t> uniqueMountIdOf(int fd);

// Whether nothing at all can write the volume of the open item `fd`: the
// mount is read-only and so is the file system itself, not merely this view
// of one that another mount writes.
bool onUnwritableVolume(int fd);

} // namespace quillmark::platform
