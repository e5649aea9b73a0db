#pragma once

#include <cstdint>
#include <string>

namespace quillmark::bench {

struct GeneratedBundleSummary {
    std::uint64_t files = 0;
    std::uint64_t links = 0;
    std::uint64_t folders = 0;
    std::uint64_t bytes = 0;
};

// Writes an unsealed viewer bundle of about 1 GiB at `path` (the "….app"
// folder): about 6,000 files from a few bytes to 64 MiB in nested folders,
// relative links between them, a property list and an executable. The
// contents are pseudo-random and the same on every run; memory stays small
// whatever the size.
GeneratedBundleSummary writeGeneratedBundle(const std::string& path);

} // namespace quillmark::bench
