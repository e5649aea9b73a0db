#pragma once

#include "platform/file_url.hpp"

#include <cstdint>

namespace quillmark::platform {

// How much room a copy of the item and everything in it takes on a volume
// whose blocks are `blockSize` bytes: each file's data rounded up to whole
// blocks, and a block for each folder and link. Links are counted, never
// followed. Throws a platform::Error in the "file" domain when part of the
// tree cannot be read.
std::uint64_t treeSize(const FileURL& url, std::uint64_t blockSize);

} // namespace quillmark::platform
