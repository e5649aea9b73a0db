#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quillmark::platform {

// Counts the keys of every dictionary in an XML property list by its tags,
// without parsing it. Returns why the bytes must not be handed to the parser
// (as the end of a sentence), or nothing.
//
// The parser checks each new key against the dictionary's earlier keys in a
// hash table of fixed size, so the time to read one dictionary grows with
// the square of its keys: a file of 64 MB made of one dictionary takes
// minutes. A text inside a comment or a CDATA section may be counted as a
// key too; that only ever refuses a file that was absurdly large already.
std::optional<std::string> xmlPropertyListFault(std::string_view bytes, std::size_t maximumKeysPerDictionary);

} // namespace quillmark::platform
