#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmark::testing {

// Assembles a binary property list object by object, so that tests can write
// what no well-behaved writer would: references past the end, objects that
// contain themselves, keys that are not text, offsets that point anywhere.
class RawBinaryPropertyList {
public:
    // Each returns the index of the new object.
    std::size_t ascii(std::string_view text);
    std::size_t utf16(const std::u16string& text);
    std::size_t integer(std::uint8_t value);
    std::size_t boolean(bool value);
    // Appends exactly these bytes as one object.
    std::size_t raw(std::string bytes);
    std::size_t array(const std::vector<std::size_t>& items);
    std::size_t dictionary(const std::vector<std::pair<std::size_t, std::size_t>>& entries);
    // An array whose references are filled in later (for cycles and chains).
    std::size_t reserveArray(std::size_t count);
    void setItems(std::size_t array, const std::vector<std::size_t>& items);

    std::size_t count() const { return objects_.size(); }

    // Damage applied when the bytes are written.
    std::map<std::size_t, std::uint64_t> offsetOverrides;
    std::optional<std::uint64_t> tableOffsetOverride;
    std::optional<std::uint64_t> objectCountOverride;

    std::string bytes(std::size_t top) const;

private:
    static std::string marker(std::uint8_t kind, std::uint64_t count);
    std::string references(const std::vector<std::size_t>& items) const;

    std::vector<std::string> objects_;
};

} // namespace quillmark::testing
