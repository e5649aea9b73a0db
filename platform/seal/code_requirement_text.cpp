#include "platform/seal/code_requirement_text.hpp"

namespace quillmark::platform {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool isBareCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
}

void skipBlanks(std::string_view& text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
}

std::optional<std::string> quotedString(std::string_view& text)
{
    text.remove_prefix(1);
    std::string value;
    while (!text.empty()) {
        char c = text.front();
        text.remove_prefix(1);
        if (c == '"')
            return value;
        if (c == '\\') {
            if (text.empty())
                return std::nullopt;
            c = text.front();
            text.remove_prefix(1);
        }
        value += c;
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> requiredIdentifier(std::string_view text)
{
    constexpr std::string_view keyword = "identifier";
    skipBlanks(text);
    if (!text.starts_with(keyword))
        return std::nullopt;
    text.remove_prefix(keyword.size());
    if (text.empty() || !(isBlank(text.front()) || text.front() == '=' || text.front() == '"'))
        return std::nullopt;
    skipBlanks(text);
    if (text.starts_with('=')) {
        text.remove_prefix(1);
        skipBlanks(text);
    }
    std::optional<std::string> identifier;
    if (text.starts_with('"')) {
        identifier = quotedString(text);
    } else {
        std::size_t length = 0;
        while (length < text.size() && isBareCharacter(text[length]))
            ++length;
        if (length > 0)
            identifier = std::string(text.substr(0, length));
        text.remove_prefix(length);
    }
    skipBlanks(text);
    if (!identifier || identifier->empty() || !text.empty())
        return std::nullopt;
    return identifier;
}

} // namespace quillmark::platform
