#pragma once

#include "platform/seal/bundle_tree.hpp"

#include <optional>
#include <string>
#include <vector>

namespace quillmark::platform {

// The path of the first link that leads outside the bundle: an absolute
// target, or one that climbs above the bundle with "..". Targets are resolved
// the way the kernel would, through the other links of the bundle, so a chain
// of links that are each harmless alone cannot climb out together. A chain
// that never settles counts as leaving too.
std::optional<std::string> firstEscapingLink(const std::vector<BundleItem>& items);

} // namespace quillmark::platform
