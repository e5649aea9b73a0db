#include "platform/regular_expression.hpp"

#include <gtest/gtest.h>

#include <string>

namespace quillmark::platform {
namespace {

TEST(RegularExpressionTest, SearchesWithTheAnchorsOfThePattern)
{
    RegularExpression anchored(R"(^[0-9]+(\.[0-9]+){1,2}$)");
    EXPECT_TRUE(anchored.matches("1.2"));
    EXPECT_TRUE(anchored.matches("10.20.30"));
    EXPECT_FALSE(anchored.matches("1"));
    EXPECT_FALSE(anchored.matches("x1.2"));

    RegularExpression unanchored(R"([0-9]\.[0-9])");
    EXPECT_TRUE(unanchored.matches("version 1.2 here"));
}

TEST(RegularExpressionTest, AHugeTextIsRefusedInsteadOfExhaustingTheStack)
{
    RegularExpression version(R"(^[0-9]+(\.[0-9]+){1,2}$)");
    std::string huge(1'000'000, '1');
    huge += ".2";
    EXPECT_FALSE(version.matches(huge));
    EXPECT_TRUE(version.matches(std::string(4000, '1') + ".2"));
}

} // namespace
} // namespace quillmark::platform
