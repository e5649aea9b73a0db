#pragma once

#include <string>

namespace quillmark::platform {

// A new random UUID (version 4, variant 1) in its 36-character text form,
// upper case: 8-4-4-4-12 hexadecimal digits joined by hyphens.
std::string randomUUIDText();

} // namespace quillmark::platform
