#pragma once

#include "platform/files/file_manager.hpp"
#include "platform/file_url.hpp"

#include <vector>

namespace quillmark {

// The two installation roots: the system-wide "/Applications", then the
// user's own "Applications" folder in their home folder.
std::vector<platform::FileURL> installationRoots(const platform::FileManager& manager);

} // namespace quillmark
