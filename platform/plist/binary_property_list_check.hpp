#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quillmark::platform {

// Walks the structure of a binary property list ("bplist00") without
// building any value: trailer, offset table, every object reachable from the
// top object, its length and its references. Returns why the bytes must not
// be handed to a parser (as the end of a sentence), or nothing when they are
// sound.
//
// The parser we use trusts much of this structure: it aborts on a dictionary
// key that holds a NUL character, and it copies a shared object once for
// every reference, so a small file of shared references expands without
// bound; and its time for one dictionary grows with the square of its keys. Checking first keeps a hostile bundle from crashing the installer or
// exhausting its memory.
std::optional<std::string> binaryPropertyListFault(std::string_view bytes, int maximumNesting,
    std::size_t maximumValues, std::size_t maximumKeysPerDictionary);

} // namespace quillmark::platform
