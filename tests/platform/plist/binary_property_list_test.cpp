#include "platform/error.hpp"
#include "platform/plist/property_list.hpp"
#include "tests/support/raw_binary_property_list.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace quillmark::platform {
namespace {

using testing::RawBinaryPropertyList;

// The description of the error parsePropertyList throws, or "parsed".
std::string outcome(const std::string& bytes)
{
    try {
        parsePropertyList(bytes);
        return "parsed";
    } catch (const Error& error) {
        EXPECT_EQ(error.domain(), propertyListErrorDomain);
        EXPECT_EQ(error.code(), propertyListErrorCode::unreadable);
        return error.description();
    }
}

std::string damaged(std::string_view reason)
{
    return "The data is not a valid property list: " + std::string(reason);
}

// A chain of `depth` arrays, each holding the next; the last is empty.
std::string chain(int depth)
{
    RawBinaryPropertyList list;
    std::vector<std::size_t> arrays;
    for (int i = 0; i < depth; ++i)
        arrays.push_back(list.reserveArray(1));
    for (int i = 0; i + 1 < depth; ++i)
        list.setItems(arrays[i], { arrays[i + 1] });
    list.setItems(arrays.back(), {});
    return list.bytes(arrays.front());
}

TEST(BinaryPropertyListTest, DamagedStructureIsRefusedBeforeParsing)
{
    struct Case {
        const char* name;
        std::function<std::string()> bytes;
        std::string expected;
    };
    const Case cases[] = {
        { "sound dictionary",
            [] {
                RawBinaryPropertyList list;
                auto key = list.ascii("CFBundleVersion");
                auto wide = list.utf16(u"Gr\u00FC\u00DFe \U0001F600");
                auto value = list.ascii("10");
                return list.bytes(list.dictionary({ { key, value }, { wide, list.boolean(true) } }));
            },
            "parsed" },
        { "shared value referred to twice",
            [] {
                RawBinaryPropertyList list;
                auto value = list.integer(7);
                return list.bytes(list.array({ value, value }));
            },
            "parsed" },
        { "dictionary key with a NUL character",
            [] {
                RawBinaryPropertyList list;
                auto key = list.ascii(std::string_view("CFBundle\0Version", 16));
                return list.bytes(list.dictionary({ { key, list.ascii("10") } }));
            },
            damaged("a dictionary key holds a NUL character.") },
        { "UTF-16 dictionary key with a NUL character",
            [] {
                RawBinaryPropertyList list;
                auto key = list.utf16(std::u16string(u"ab\0c", 4));
                return list.bytes(list.dictionary({ { key, list.ascii("10") } }));
            },
            damaged("a dictionary key holds a NUL character.") },
        { "dictionary key that is a number",
            [] {
                RawBinaryPropertyList list;
                return list.bytes(list.dictionary({ { list.integer(1), list.ascii("10") } }));
            },
            damaged("a dictionary key is not text.") },
        { "text with a lone surrogate",
            [] {
                RawBinaryPropertyList list;
                return list.bytes(list.array({ list.utf16(u"a\xD800" "b") }));
            },
            damaged("a text holds a broken UTF-16 surrogate pair.") },
        { "top object past the last object",
            [] {
                RawBinaryPropertyList list;
                list.ascii("a");
                return list.bytes(5);
            },
            damaged("its top object is missing.") },
        { "reference past the last object",
            [] {
                RawBinaryPropertyList list;
                return list.bytes(list.array({ 40 }));
            },
            damaged("a reference points past the last object.") },
        { "object offset inside the trailer",
            [] {
                RawBinaryPropertyList list;
                auto text = list.ascii("a");
                auto top = list.array({ text });
                list.offsetOverrides[text] = 0xFFFFFFF0;
                return list.bytes(top);
            },
            damaged("an object's offset lies outside the data.") },
        { "object offset inside the header",
            [] {
                RawBinaryPropertyList list;
                auto top = list.ascii("a");
                list.offsetOverrides[top] = 2;
                return list.bytes(top);
            },
            damaged("an object's offset lies outside the data.") },
        { "offset table past the end",
            [] {
                RawBinaryPropertyList list;
                auto top = list.ascii("a");
                list.tableOffsetOverride = 1u << 30;
                return list.bytes(top);
            },
            damaged("its offset table lies outside the data.") },
        { "more objects than the offset table holds",
            [] {
                RawBinaryPropertyList list;
                auto top = list.ascii("a");
                list.objectCountOverride = 1ull << 40;
                return list.bytes(top);
            },
            damaged("its offset table lies outside the data.") },
        { "text longer than the data",
            [] {
                RawBinaryPropertyList list;
                return list.bytes(list.raw(std::string("\x5F\x13\x00\x00\x00\x00\x10\x00\x00\x00", 10)));
            },
            damaged("a text runs past the end.") },
        { "array longer than the data",
            [] {
                RawBinaryPropertyList list;
                return list.bytes(list.raw(std::string("\xAF\x13\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 10)));
            },
            damaged("a collection runs past the end.") },
        { "array that contains itself",
            [] {
                RawBinaryPropertyList list;
                auto top = list.reserveArray(1);
                list.setItems(top, { top });
                return list.bytes(top);
            },
            damaged("an object contains itself.") },
        { "two dictionaries that contain each other",
            [] {
                RawBinaryPropertyList list;
                auto key = list.ascii("k");
                auto inner = list.reserveArray(1);
                auto outer = list.dictionary({ { key, inner } });
                list.setItems(inner, { outer });
                return list.bytes(outer);
            },
            damaged("an object contains itself.") },
        { "shared references that expand to 2^40 values",
            [] {
                RawBinaryPropertyList list;
                auto below = list.array({});
                for (int i = 0; i < 40; ++i)
                    below = list.array({ below, below });
                return list.bytes(below);
            },
            damaged("it holds more values than an application's information can.") },
        { "10,000 nested arrays", [] { return chain(10'000); }, damaged("it is nested too deeply.") },
        { "512 nested arrays", [] { return chain(512); }, "parsed" },
        { "unknown object kind",
            [] {
                RawBinaryPropertyList list;
                return list.bytes(list.raw("\x70"));
            },
            damaged("it holds a value of an unknown kind.") },
    };
    for (const auto& c : cases)
        EXPECT_EQ(outcome(c.bytes()), c.expected) << c.name;
}

TEST(BinaryPropertyListTest, WhatTheWriterProducesPassesTheCheck)
{
    auto value = PropertyListValue::makeDictionary({
        { "Text", PropertyListValue::makeString("Gr\u00FC\u00DFe") },
        { "Numbers", PropertyListValue::makeArray({ PropertyListValue::makeInteger(1), PropertyListValue::makeInteger(1 << 20), PropertyListValue::makeReal(0.5) }) },
        { "Data", PropertyListValue::makeData(std::string(300, 'x')) },
        { "Flag", PropertyListValue::makeBoolean(false) },
        { "When", PropertyListValue::makeDate(1000) },
        { "Reference", PropertyListValue::makeUid(3) },
    });
    auto parsed = parsePropertyList(binaryPropertyList(value));
    ASSERT_TRUE(parsed.isDictionary());
    EXPECT_EQ(parsed.find("Text")->text(), "Gr\u00FC\u00DFe");
    EXPECT_EQ(parsed.find("Numbers")->items().at(1).integer(), 1 << 20);
    EXPECT_EQ(parsed.find("Data")->text().size(), 300u);
}

} // namespace
} // namespace quillmark::platform
