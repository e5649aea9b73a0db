#pragma once

#include <string>
#include <string_view>

namespace quillmark::platform {

// Reads one of the two seal files below the bundle folder `bundleFd`, never
// following a link and never reading more than `limit` bytes. Returns the
// errno of the failure (EFBIG when larger, EINVAL when not a regular file).
int readSealFile(int bundleFd, std::string_view relativePath, std::size_t limit, std::string& contents);

} // namespace quillmark::platform
