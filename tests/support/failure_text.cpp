#include "tests/support/failure_text.hpp"

#include "platform/error.hpp"

namespace quillmark::testing {

std::string failureText(const std::function<void()>& work)
{
    try {
        work();
    } catch (const platform::Error& error) {
        return error.description();
    }
    return "";
}

} // namespace quillmark::testing
