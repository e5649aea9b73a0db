#include "platform/regular_expression.hpp"

#include <regex>

namespace quillmark::platform {

struct RegularExpression::Compiled {
    std::regex expression;
};

RegularExpression::RegularExpression(std::string_view pattern)
    : compiled_(std::make_unique<Compiled>(Compiled { std::regex(pattern.begin(), pattern.end(), std::regex::ECMAScript) }))
{
}

RegularExpression::~RegularExpression() = default;
RegularExpression::RegularExpression(RegularExpression&&) noexcept = default;
RegularExpression& RegularExpression::operator=(RegularExpression&&) noexcept = default;

bool RegularExpression::matches(std::string_view text) const
{
    return std::regex_search(text.begin(), text.end(), compiled_->expression);
}

} // namespace quillmark::platform
