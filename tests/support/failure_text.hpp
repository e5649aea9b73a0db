#pragma once

#include <functional>
#include <string>

namespace quillmark::testing {

// The description of the platform error that `work` throws, or "" when it
// throws none.
std::string failureText(const std::function<void()>& work);

} // namespace quillmark::testing
