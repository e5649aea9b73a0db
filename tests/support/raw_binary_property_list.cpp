#include "tests/support/raw_binary_property_list.hpp"

namespace quillmark::testing {
namespace {

constexpr std::size_t referenceSize = 4;
constexpr std::size_t offsetSize = 8;

void appendNumber(std::string& out, std::uint64_t value, std::size_t width)
{
    for (std::size_t i = width; i-- > 0;)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

} // namespace

std::string RawBinaryPropertyList::marker(std::uint8_t kind, std::uint64_t count)
{
    std::string out;
    if (count < 15) {
        out += static_cast<char>((kind << 4) | count);
    } else {
        out += static_cast<char>((kind << 4) | 0x0F);
        out += static_cast<char>(0x13);
        appendNumber(out, count, 8);
    }
    return out;
}

std::string RawBinaryPropertyList::references(const std::vector<std::size_t>& items) const
{
    std::string out;
    for (auto item : items)
        appendNumber(out, item, referenceSize);
    return out;
}

std::size_t RawBinaryPropertyList::raw(std::string bytes)
{
    objects_.push_back(std::move(bytes));
    return objects_.size() - 1;
}

std::size_t RawBinaryPropertyList::ascii(std::string_view text)
{
    return raw(marker(0x5, text.size()) + std::string(text));
}

std::size_t RawBinaryPropertyList::utf16(const std::u16string& text)
{
    std::string out = marker(0x6, text.size());
    for (char16_t unit : text)
        appendNumber(out, unit, 2);
    return raw(std::move(out));
}

std::size_t RawBinaryPropertyList::integer(std::uint8_t value)
{
    return raw(std::string { static_cast<char>(0x10), static_cast<char>(value) });
}

std::size_t RawBinaryPropertyList::boolean(bool value)
{
    return raw(std::string(1, static_cast<char>(value ? 0x09 : 0x08)));
}

std::size_t RawBinaryPropertyList::array(const std::vector<std::size_t>& items)
{
    return raw(marker(0xA, items.size()) + references(items));
}

std::size_t RawBinaryPropertyList::dictionary(const std::vector<std::pair<std::size_t, std::size_t>>& entries)
{
    std::vector<std::size_t> keys;
    std::vector<std::size_t> values;
    for (const auto& [key, value] : entries) {
        keys.push_back(key);
        values.push_back(value);
    }
    return raw(marker(0xD, entries.size()) + references(keys) + references(values));
}

std::size_t RawBinaryPropertyList::reserveArray(std::size_t count)
{
    return array(std::vector<std::size_t>(count, 0));
}

void RawBinaryPropertyList::setItems(std::size_t array, const std::vector<std::size_t>& items)
{
    objects_.at(array) = marker(0xA, items.size()) + references(items);
}

std::string RawBinaryPropertyList::bytes(std::size_t top) const
{
    std::string out = "bplist00";
    std::vector<std::uint64_t> offsets;
    for (const auto& object : objects_) {
        offsets.push_back(out.size());
        out += object;
    }
    for (const auto& [object, offset] : offsetOverrides)
        offsets.at(object) = offset;
    std::uint64_t tableOffset = out.size();
    for (auto offset : offsets)
        appendNumber(out, offset, offsetSize);
    out.append(6, '\0');
    out += static_cast<char>(offsetSize);
    out += static_cast<char>(referenceSize);
    appendNumber(out, objectCountOverride.value_or(objects_.size()), 8);
    appendNumber(out, top, 8);
    appendNumber(out, tableOffsetOverride.value_or(tableOffset), 8);
    return out;
}

} // namespace quillmark::testing
