#pragma once

#include <optional>
#include <string>

namespace quillmark::tools {

// Exit statuses of bundle-seal.
inline constexpr int exitSuccess = 0;
inline constexpr int exitFailure = 1;
inline constexpr int exitUsage = 2;

// Each command prints its result on standard output and every problem as a
// sentence on standard error, and returns the exit status.
int generateKey(const std::string& keyPath);
int sign(const std::string& keyPath, const std::string& identifier, const std::string& bundlePath);
int verify(const std::optional<std::string>& requirement, const std::string& bundlePath);
int show(const std::string& bundlePath);

} // namespace quillmark::tools
