#include "engine/installer_engine.hpp"

#include <gtest/gtest.h>

namespace quillmark {
namespace {

constexpr auto ascending = ComparisonResult::ascending;
constexpr auto same = ComparisonResult::same;
constexpr auto descending = ComparisonResult::descending;

struct OrderCase {
    const char* a;
    const char* b;
    ComparisonResult expected;
};

ComparisonResult reversed(ComparisonResult order)
{
    return static_cast<ComparisonResult>(-static_cast<int>(order));
}

TEST(VersionOrderingTest, CompareOrdersDottedNumbersByValue)
{
    const OrderCase cases[] = {
        { "1.2", "1.2.0", same },
        { "1.2", "1.02", same },
        { "1.2", "01.2.0.0", same },
        { "1.10", "1.9", descending },
        { "2", "1.99", descending },
        { "", "0", same },
        { "", "0.0.0", same },
        { "1..2", "1.2", same },
        { ".1.2.", "1.2", same },
        { "10", "9", descending },
        { "9", "10", ascending },
        { "007", "7", same },
        { "1.2.3", "1.2.4", ascending },
        { "0", "0.0.1", ascending },
        { "1.0000000000000000000000001", "1.1", same },
        { "99999999999999999999999", "99999999999999999999998", descending },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(InstallerEngine::compare(c.a, c.b), c.expected) << c.a << " vs " << c.b;
        EXPECT_EQ(InstallerEngine::compare(c.b, c.a), reversed(c.expected)) << c.b << " vs " << c.a;
    }
}

TEST(VersionOrderingTest, CompareReleaseFollowsSemanticVersionPrecedence)
{
    const OrderCase cases[] = {
        { "2.0", "2.0.0", same },
        { "2.0.0+build.5", "2.0.0+build.9", same },
        { "2.0.0", "2.0.0-rc.1", descending },
        { "1.0.0-rc.01", "1.0.0-rc.1", same },
        { "1.0.0-RC.1", "1.0.0-rc.1", ascending },
        { "2.1.0", "2.0.9", descending },
        { "2.0.10", "2.0.9", descending },
        { "1.0.0-alpha.1", "1.0.0-alpha.a", ascending },
        { "1.0.0-1", "1.0.0-a", ascending },
        { "1.0.0-beta+exp.sha.5114f85", "1.0.0-beta", same },
        { "1.0.0-rc.1+build.1", "1.0.0+build.1", ascending },
        { "1.0.0-a..b", "1.0.0-a.b", same },
        { "01.002.0003", "1.2.3", same },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(InstallerEngine::compareRelease(c.a, c.b), c.expected) << c.a << " vs " << c.b;
        EXPECT_EQ(InstallerEngine::compareRelease(c.b, c.a), reversed(c.expected)) << c.b << " vs " << c.a;
    }
}

TEST(VersionOrderingTest, PreReleasesOrderAsSemanticVersioningLists)
{
    const char* lowestFirst[] = {
        "1.0.0-alpha", "1.0.0-alpha.1", "1.0.0-alpha.beta", "1.0.0-beta",
        "1.0.0-beta.2", "1.0.0-beta.11", "1.0.0-rc.1", "1.0.0",
    };
    for (std::size_t i = 0; i < std::size(lowestFirst); ++i) {
        for (std::size_t j = 0; j < std::size(lowestFirst); ++j) {
            auto expected = i < j ? ascending : i == j ? same : descending;
            EXPECT_EQ(InstallerEngine::compareRelease(lowestFirst[i], lowestFirst[j]), expected)
                << lowestFirst[i] << " vs " << lowestFirst[j];
        }
    }
}

TEST(VersionOrderingTest, ReleaseWithoutACoreOrdersBelowEveryRelease)
{
    const OrderCase cases[] = {
        { "", "0.0", ascending },
        { "-", "1.0.0-alpha", ascending },
        { "+", "0.0.0", ascending },
        { "", "-", same },
        { "-+", "", same },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(InstallerEngine::compareRelease(c.a, c.b), c.expected) << '"' << c.a << "\" vs \"" << c.b << '"';
        EXPECT_EQ(InstallerEngine::compareRelease(c.b, c.a), reversed(c.expected)) << '"' << c.b << "\" vs \"" << c.a << '"';
    }
}

InstalledIdentity identity(std::string release, std::string build)
{
    return InstalledIdentity { platform::FileURL("/Volumes/Quillmark/Quillmark.app", true), release.substr(0, 3), std::move(build), release };
}

TEST(VersionOrderingTest, OperationClassifiesByReleaseThenBuild)
{
    struct Case {
        const char* incomingRelease;
        const char* incomingBuild;
        const char* installedRelease;
        const char* installedBuild;
        InstallOperation expected;
    };
    const Case cases[] = {
        { "2.0.0", "10", "2.0.0", "9", InstallOperation::update },
        { "2.0.0", "9", "2.0.0", "10", InstallOperation::olderVersion },
        { "2.0", "7", "2.0.0", "7", InstallOperation::reinstall },
        { "2.0.0+build.5", "7", "2.0.0+build.9", "7", InstallOperation::reinstall },
        { "2.0.0", "1", "2.0.0-rc.1", "99", InstallOperation::update },
        { "2.0.0-rc.1", "99", "2.0.0", "1", InstallOperation::olderVersion },
        { "2.1.0", "1", "2.0.0", "500", InstallOperation::update },
        { "2.0.0", "7.0.1", "2.0.0", "7", InstallOperation::update },
        { "2.0.0", "007", "2.0.0", "7", InstallOperation::reinstall },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(InstallerEngine::operation(identity(c.incomingRelease, c.incomingBuild),
                      identity(c.installedRelease, c.installedBuild)),
            c.expected)
            << c.incomingRelease << " (" << c.incomingBuild << ") over " << c.installedRelease << " (" << c.installedBuild << ")";
    }
}

TEST(VersionOrderingTest, NothingInstalledIsANewInstallWhateverThePayload)
{
    EXPECT_EQ(InstallerEngine::operation(identity("0.1.0-alpha", "1"), std::nullopt), InstallOperation::newInstall);
    EXPECT_EQ(InstallerEngine::operation(identity("9.9.9", "999"), std::nullopt), InstallOperation::newInstall);
}

} // namespace
} // namespace quillmark
