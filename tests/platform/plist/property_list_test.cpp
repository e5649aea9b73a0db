#include "platform/plist/property_list.hpp"

#include "platform/error.hpp"
#include "tests/support/raw_binary_property_list.hpp"

#include <gtest/gtest.h>

namespace quillmark::platform {
namespace {

PropertyListValue sampleDictionary()
{
    return PropertyListValue::makeDictionary({
        { "CFBundleIdentifier", PropertyListValue::makeString("app.quillmark.viewer") },
        { "Count", PropertyListValue::makeInteger(42) },
        { "Enabled", PropertyListValue::makeBoolean(true) },
        { "Blob", PropertyListValue::makeData(std::string("\0\1\2", 3)) },
        { "List", PropertyListValue::makeArray({ PropertyListValue::makeString("a"), PropertyListValue::makeReal(1.5) }) },
    });
}

void expectSample(const PropertyListValue& value)
{
    ASSERT_TRUE(value.isDictionary());
    ASSERT_NE(value.find("CFBundleIdentifier"), nullptr);
    EXPECT_EQ(value.find("CFBundleIdentifier")->text(), "app.quillmark.viewer");
    EXPECT_EQ(value.find("Count")->integer(), 42);
    EXPECT_TRUE(value.find("Enabled")->boolean());
    EXPECT_EQ(value.find("Blob")->text(), std::string("\0\1\2", 3));
    ASSERT_EQ(value.find("List")->items().size(), 2u);
    EXPECT_EQ(value.find("List")->items()[1].real(), 1.5);
    EXPECT_EQ(value.find("Missing"), nullptr);
}

TEST(PropertyListTest, ReadsWhatItWritesInBothFormats)
{
    expectSample(parsePropertyList(xmlPropertyList(sampleDictionary())));
    expectSample(parsePropertyList(binaryPropertyList(sampleDictionary())));
}

TEST(PropertyListTest, ReadsHandWrittenXml)
{
    auto value = parsePropertyList(R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>CFBundleShortVersionString</key>
  <string>2.0</string>
  <key>Numbers</key>
  <array><integer>1</integer><integer>2</integer></array>
</dict>
</plist>
)");
    ASSERT_TRUE(value.isDictionary());
    EXPECT_EQ(value.find("CFBundleShortVersionString")->text(), "2.0");
    EXPECT_EQ(value.find("Numbers")->items().size(), 2u);
}

TEST(PropertyListTest, RefusesBytesThatAreNotAPropertyList)
{
    const std::string cases[] = {
        "",
        "hello, world",
        "<plist><dict><key>a</key>",
        std::string("bplist00\xff\xff\xff", 11),
    };
    for (const auto& bytes : cases) {
        try {
            parsePropertyList(bytes);
            ADD_FAILURE() << "parsed: " << bytes;
        } catch (const Error& error) {
            EXPECT_EQ(error.domain(), propertyListErrorDomain);
            EXPECT_EQ(error.code(), propertyListErrorCode::unreadable);
            EXPECT_TRUE(error.description().starts_with("The data is not a valid property list")) << error.description();
        }
    }
}

TEST(PropertyListTest, RefusesNestingDeeperThanAnyBundleHas)
{
    std::string xml = "<plist>";
    for (int i = 0; i < 600; ++i)
        xml += "<array>";
    for (int i = 0; i < 600; ++i)
        xml += "</array>";
    xml += "</plist>";
    EXPECT_THROW(parsePropertyList(xml), Error);
}

TEST(PropertyListTest, RefusesADictionaryWithMoreKeysThanTheParserTakesInTime)
{
    auto xmlDictionaries = [](std::vector<int> sizes) {
        std::string xml = "<plist><array>";
        int next = 0;
        for (int size : sizes) {
            xml += "<dict>";
            for (int i = 0; i < size; ++i)
                xml += "<key>k" + std::to_string(next++) + "</key><true/>";
            xml += "</dict>";
        }
        return xml + "</array></plist>";
    };
    auto binaryDictionary = [](int size) {
        testing::RawBinaryPropertyList list;
        auto value = list.boolean(true);
        std::vector<std::pair<std::size_t, std::size_t>> entries;
        for (int i = 0; i < size; ++i)
            entries.emplace_back(list.ascii("k" + std::to_string(i)), value);
        return list.bytes(list.dictionary(entries));
    };
    const std::string tooMany = "The data is not a valid property list: a dictionary holds more than 250000 keys.";
    for (const auto& bytes : { xmlDictionaries({ 250'001 }), binaryDictionary(250'001) }) {
        try {
            parsePropertyList(bytes);
            ADD_FAILURE() << "parsed a dictionary of 250,001 keys";
        } catch (const Error& error) {
            EXPECT_EQ(error.description(), tooMany);
        }
    }
    // The limit is per dictionary, not per file.
    auto many = parsePropertyList(xmlDictionaries({ 150'000, 150'000 }));
    ASSERT_EQ(many.items().size(), 2u);
    EXPECT_EQ(many.items()[1].entries().size(), 150'000u);
}

} // namespace
} // namespace quillmark::platform
