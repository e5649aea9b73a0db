#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quillmark::platform {

// The full path of a program of the system found through PATH, as a shell
// finds it; nothing when it is not installed.
std::optional<std::string> programOnPath(const std::string& name);

// Runs a helper program to its end with `arguments` (the program's path
// first), its input and output going nowhere, and returns its exit status
// (-1 when a signal ended it). Throws a platform::Error when it cannot start.
int runHelperProgram(const std::vector<std::string>& arguments);

} // namespace quillmark::platform
