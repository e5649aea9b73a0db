#pragma once

#include <cstdint>
#include <string>

namespace quillmark::bench {

struct GeneratedBundle {
    std::uint64_t files = 0;
    std::uint64_t folders = 0;
    std::uint64_t links = 0;
    std::uint64_t bytes = 0;
};

// Writes a viewer bundle shaped like a real application at `bundlePath`: an
// executable, frameworks with their version links, localized resources,
// deeply nested documents; about 6,000 files and 1 GiB in all, of mixed
// sizes. The content is pseudo-random (and the same on every run), so no
// file system can compress or deduplicate it away.
GeneratedBundle generateBundle(const std::string& bundlePath);

} // namespace quillmark::bench
