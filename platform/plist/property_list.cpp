#include "platform/plist/property_list.hpp"

#include "platform/plist/binary_property_list_check.hpp"
#include "platform/error.hpp"
#include "platform/plist/xml_property_list_check.hpp"

#include <plist/plist.h>

#include <limits>
#include <memory>

namespace quillmark::platform {
namespace {

// Deeper nesting than any real bundle has is treated as damage rather than
// walked, so a hostile file cannot exhaust the stack.
constexpr int maximumNesting = 512;
// A binary property list may refer to one object many times, and the parser
// copies it for every reference; more values than this is an expansion
// attack, not an application's information.
constexpr std::size_t maximumBinaryValues = 2'000'000;
// The parser's time for one dictionary grows with the square of its keys;
// this many take it about a second. A seal of a bundle of 100,000 items has
// 100,000 keys in its largest dictionary.
constexpr std::size_t maximumKeysPerDictionary = 250'000;

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistHandle = std::unique_ptr<void, PlistDeleter>;

struct MallocDeleter {
    void operator()(char* text) const { std::free(text); }
};
using MallocText = std::unique_ptr<char, MallocDeleter>;

Error unreadable(std::string reason)
{
    return Error(std::string(propertyListErrorDomain), propertyListErrorCode::unreadable,
        "The data is not a valid property list: " + std::move(reason));
}

PropertyListValue convert(plist_t node, int depth)
{
    if (depth > maximumNesting)
        throw unreadable("it is nested too deeply.");
    switch (plist_get_node_type(node)) {
    case PLIST_STRING: {
        uint64_t length = 0;
        const char* text = plist_get_string_ptr(node, &length);
        return PropertyListValue::makeString(std::string(text, length));
    }
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return PropertyListValue::makeBoolean(value != 0);
    }
    case PLIST_UINT: {
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return PropertyListValue::makeInteger(static_cast<std::int64_t>(value));
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return PropertyListValue::makeReal(value);
    }
    case PLIST_DATE: {
        int32_t seconds = 0;
        int32_t microseconds = 0;
        plist_get_date_val(node, &seconds, &microseconds);
        return PropertyListValue::makeDate(seconds + microseconds / 1e6);
    }
    case PLIST_DATA: {
        uint64_t length = 0;
        const char* bytes = plist_get_data_ptr(node, &length);
        return PropertyListValue::makeData(std::string(bytes, length));
    }
    case PLIST_UID: {
        uint64_t value = 0;
        plist_get_uid_val(node, &value);
        return PropertyListValue::makeUid(value);
    }
    case PLIST_ARRAY: {
        std::vector<PropertyListValue> items;
        uint32_t count = plist_array_get_size(node);
        items.reserve(count);
        for (uint32_t i = 0; i < count; ++i)
            items.push_back(convert(plist_array_get_item(node, i), depth + 1));
        return PropertyListValue::makeArray(std::move(items));
    }
    case PLIST_DICT: {
        std::vector<PropertyListValue::Entry> entries;
        plist_dict_iter iterator = nullptr;
        plist_dict_new_iter(node, &iterator);
        std::unique_ptr<void, decltype(&std::free)> ownedIterator(iterator, &std::free);
        for (;;) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, iterator, &key, &value);
            MallocText ownedKey(key);
            if (value == nullptr)
                break;
            entries.emplace_back(key != nullptr ? key : "", convert(value, depth + 1));
        }
        return PropertyListValue::makeDictionary(std::move(entries));
    }
    default:
        throw unreadable("it holds a value of an unknown kind.");
    }
}

plist_t toPlist(const PropertyListValue& value)
{
    using Kind = PropertyListValue::Kind;
    switch (value.kind()) {
    case Kind::string:
        return plist_new_string(value.text().c_str());
    case Kind::integer:
        return plist_new_uint(static_cast<uint64_t>(value.integer()));
    case Kind::real:
        return plist_new_real(value.real());
    case Kind::boolean:
        return plist_new_bool(value.boolean() ? 1 : 0);
    case Kind::date:
        return plist_new_date(static_cast<int32_t>(value.real()), 0);
    case Kind::data:
        return plist_new_data(value.text().data(), value.text().size());
    case Kind::uid:
        return plist_new_uid(static_cast<uint64_t>(value.integer()));
    case Kind::array: {
        plist_t array = plist_new_array();
        for (const auto& item : value.items())
            plist_array_append_item(array, toPlist(item));
        return array;
    }
    case Kind::dictionary: {
        plist_t dictionary = plist_new_dict();
        for (const auto& [key, item] : value.entries())
            plist_dict_set_item(dictionary, key.c_str(), toPlist(item));
        return dictionary;
    }
    }
    return plist_new_string("");
}

} // namespace

PropertyListValue PropertyListValue::makeString(std::string text)
{
    PropertyListValue value(Kind::string);
    value.text_ = std::move(text);
    return value;
}

PropertyListValue PropertyListValue::makeInteger(std::int64_t number)
{
    PropertyListValue value(Kind::integer);
    value.integer_ = number;
    return value;
}

PropertyListValue PropertyListValue::makeReal(double number)
{
    PropertyListValue value(Kind::real);
    value.real_ = number;
    return value;
}

PropertyListValue PropertyListValue::makeBoolean(bool flag)
{
    PropertyListValue value(Kind::boolean);
    value.integer_ = flag ? 1 : 0;
    return value;
}

PropertyListValue PropertyListValue::makeDate(double secondsSinceReferenceDate)
{
    PropertyListValue value(Kind::date);
    value.real_ = secondsSinceReferenceDate;
    return value;
}

PropertyListValue PropertyListValue::makeData(std::string bytes)
{
    PropertyListValue value(Kind::data);
    value.text_ = std::move(bytes);
    return value;
}

PropertyListValue PropertyListValue::makeUid(std::uint64_t number)
{
    PropertyListValue value(Kind::uid);
    value.integer_ = static_cast<std::int64_t>(number);
    return value;
}

PropertyListValue PropertyListValue::makeArray(std::vector<PropertyListValue> items)
{
    PropertyListValue value(Kind::array);
    value.items_ = std::move(items);
    return value;
}

PropertyListValue PropertyListValue::makeDictionary(std::vector<Entry> entries)
{
    PropertyListValue value(Kind::dictionary);
    value.entries_ = std::move(entries);
    return value;
}

const PropertyListValue* PropertyListValue::find(std::string_view key) const
{
    for (const auto& [entryKey, entryValue] : entries_) {
        if (entryKey == key)
            return &entryValue;
    }
    return nullptr;
}

PropertyListValue parsePropertyList(std::string_view bytes)
{
    if (bytes.empty())
        throw unreadable("it is empty.");
    if (bytes.size() > std::numeric_limits<uint32_t>::max())
        throw unreadable("it is too large.");
    // The parser trusts the structure of binary data; see binaryPropertyListFault.
    if (plist_is_binary(bytes.data(), static_cast<uint32_t>(bytes.size()))) {
        if (auto fault = binaryPropertyListFault(bytes, maximumNesting, maximumBinaryValues, maximumKeysPerDictionary))
            throw unreadable(std::move(*fault));
    } else if (auto fault = xmlPropertyListFault(bytes, maximumKeysPerDictionary)) {
        throw unreadable(std::move(*fault));
    }
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    PlistHandle owned(root);
    if (root == nullptr)
        throw unreadable("it is neither an XML nor a binary property list, or it is damaged.");
    return convert(root, 0);
}

std::string xmlPropertyList(const PropertyListValue& value)
{
    PlistHandle root(toPlist(value));
    char* text = nullptr;
    uint32_t length = 0;
    plist_to_xml(root.get(), &text, &length);
    MallocText owned(text);
    return std::string(text, length);
}

std::string binaryPropertyList(const PropertyListValue& value)
{
    PlistHandle root(toPlist(value));
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root.get(), &bytes, &length);
    MallocText owned(bytes);
    return std::string(bytes, length);
}

} // namespace quillmark::platform
