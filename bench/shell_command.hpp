#pragma once

#include <string>

namespace quillmark::bench {

// `text` as one word of a shell command, whatever characters it holds.
std::string shellQuoted(const std::string& text);

// Runs a shell command; throws when it fails.
void runShellCommand(const std::string& command);

// The first line a shell command prints; throws when it prints none.
std::string firstLineOf(const std::string& command);

} // namespace quillmark::bench
