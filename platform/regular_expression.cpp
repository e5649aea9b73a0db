#include "platform/regular_expression.hpp"

#include <regex>

namespace quillmark::platform {
namespace {

// The standard library's matcher recurses once per character it consumes, so a
// text of a few hundred thousand characters overflows the stack. No text the
// installer matches (versions, builds, release versions) comes near this
// length; anything longer is taken as not matching instead of being searched.
constexpr std::size_t longestSearchedText = 4096;

} // namespace

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
    if (text.size() > longestSearchedText)
        return false;
    return std::regex_search(text.begin(), text.end(), compiled_->expression);
}

} // namespace quillmark::platform
