#include "platform/regular_expression.hpp"
#include "platform/files/uuid.hpp"

#include <gtest/gtest.h>
#include <set>

namespace quillmark::platform {
namespace {

TEST(RandomUUIDTest, IsAVersionFourUUIDInUpperCase)
{
    RegularExpression format("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$");
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        auto text = randomUUIDText();
        EXPECT_TRUE(format.matches(text)) << text;
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 50u) << "every call gives a new UUID";
}

} // namespace
} // namespace quillmark::platform
