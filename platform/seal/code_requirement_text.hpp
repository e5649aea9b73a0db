#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillmark::platform {

// The identifier a requirement text demands: `identifier "<text>"`,
// `identifier = "<text>"` or an unquoted `identifier app.example.name`, with
// blanks around the parts. In quotes, a backslash takes the next character
// as it is. Nothing for any other text.
std::optional<std::string> requiredIdentifier(std::string_view text);

} // namespace quillmark::platform
