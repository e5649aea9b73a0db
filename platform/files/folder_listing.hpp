#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillmark::platform {

// The names in an open folder, without "." and "..". The descriptor stays
// open and owned by the caller; `path` only names the folder in errors.
std::vector<std::string> namesInFolder(int folder, const std::string& path);

// `folderPath` with `name` appended, for naming items in errors.
std::string childPath(const std::string& folderPath, std::string_view name);

} // namespace quillmark::platform
