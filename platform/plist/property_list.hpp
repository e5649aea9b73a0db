#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillmark::platform {

// One value of a property list. Dictionaries keep their keys in file order;
// lookups are by exact key.
class PropertyListValue {
public:
    enum class Kind { string, integer, real, boolean, date, data, array, dictionary, uid };
    using Entry = std::pair<std::string, PropertyListValue>;

    static PropertyListValue makeString(std::string text);
    static PropertyListValue makeInteger(std::int64_t value);
    static PropertyListValue makeReal(double value);
    static PropertyListValue makeBoolean(bool value);
    static PropertyListValue makeDate(double secondsSinceReferenceDate);
    static PropertyListValue makeData(std::string bytes);
    static PropertyListValue makeUid(std::uint64_t value);
    static PropertyListValue makeArray(std::vector<PropertyListValue> items);
    static PropertyListValue makeDictionary(std::vector<Entry> entries);

    Kind kind() const { return kind_; }
    bool isString() const { return kind_ == Kind::string; }
    bool isDictionary() const { return kind_ == Kind::dictionary; }

    // The text of a string, or the bytes of data.
    const std::string& text() const { return text_; }
    std::int64_t integer() const { return integer_; }
    double real() const { return real_; }
    bool boolean() const { return integer_ != 0; }
    const std::vector<PropertyListValue>& items() const { return items_; }
    const std::vector<Entry>& entries() const { return entries_; }

    // The value under `key` in a dictionary, or nullptr when there is none
    // (or when this is not a dictionary).
    const PropertyListValue* find(std::string_view key) const;

private:
    explicit PropertyListValue(Kind kind)
        : kind_(kind)
    {
    }

    Kind kind_;
    std::string text_;
    std::int64_t integer_ = 0;
    double real_ = 0;
    std::vector<PropertyListValue> items_;
    std::vector<Entry> entries_;
};

// Parses XML or binary property-list bytes. Throws a platform::Error in the
// property-list domain when the bytes are not a property list.
PropertyListValue parsePropertyList(std::string_view bytes);

// Writes a value as an XML property list.
std::string xmlPropertyList(const PropertyListValue& value);
// Writes a value as a binary property list.
std::string binaryPropertyList(const PropertyListValue& value);

} // namespace quillmark::platform
