#pragma once

#include <memory>
#include <string_view>

namespace quillmark::platform {

// A compiled regular expression (ECMAScript syntax). The installer's patterns
// carry their own anchors, so a search over the whole text decides a match.
class RegularExpression {
public:
    explicit RegularExpression(std::string_view pattern);
    ~RegularExpression();
    RegularExpression(RegularExpression&&) noexcept;
    RegularExpression& operator=(RegularExpression&&) noexcept;

    bool matches(std::string_view text) const;

private:
    struct Compiled;
    std::unique_ptr<Compiled> compiled_;
};

} // namespace quillmark::platform
