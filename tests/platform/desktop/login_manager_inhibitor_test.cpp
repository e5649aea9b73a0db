// The shutdown delay asked of a login-manager stand-in on a private bus.

#include "platform/desktop/login_manager_inhibitor.hpp"

#include "platform/error.hpp"
#include "tests/support/login_manager/private_login_manager.hpp"
#include "tests/support/temporary_folder.hpp"

#include <gtest/gtest.h>

namespace quillmark::testing {
namespace {

using Events = std::vector<std::string>;

TEST(LoginManagerInhibitorTest, HoldsADelayLockUntilTheDelayEnds)
{
    TemporaryFolder folder;
    std::string whyNot;
    auto manager = PrivateLoginManager::start(folder.path(""), PrivateLoginManager::Answer::grant, whyNot);
    if (!manager)
        GTEST_SKIP() << whyNot;
    platform::LoginManagerInhibitor inhibitor(manager->address());

    {
        auto delay = inhibitor.delay("Replacing Quillmark");
        EXPECT_EQ(manager->events(), (Events { "ready", "taken shutdown:sleep|Quillmark installer|Replacing Quillmark|delay" }));
    }

    ASSERT_TRUE(manager->waitForEvents(3));
    EXPECT_EQ(manager->events().back(), "released");
}

struct RefusalCase {
    const char* name;
    // With no stand-in at all, the bus address leads nowhere.
    bool standIn;
    long code;
};

class LoginManagerRefusalTest : public ::testing::TestWithParam<RefusalCase> { };

TEST_P(LoginManagerRefusalTest, SaysWhyThereIsNoDelay)
{
    TemporaryFolder folder;
    std::string address = "unix:path=" + folder.path("no-bus-here");
    std::unique_ptr<PrivateLoginManager> manager;
    if (GetParam().standIn) {
        std::string whyNot;
        manager = PrivateLoginManager::start(folder.path(""), PrivateLoginManager::Answer::refuse, whyNot);
        if (!manager)
            GTEST_SKIP() << whyNot;
        address = manager->address();
    }
    platform::LoginManagerInhibitor inhibitor(address);

    try {
        inhibitor.delay("Replacing Quillmark");
        FAIL() << "a delay was granted";
    } catch (const platform::Error& refusal) {
        EXPECT_EQ(refusal.domain(), "login-manager");
        EXPECT_EQ(refusal.code(), GetParam().code);
        EXPECT_TRUE(refusal.description().starts_with("The login manager could not be asked to hold off shutdown: "))
            << refusal.description();
    }
}

INSTANTIATE_TEST_SUITE_P(Ways, LoginManagerRefusalTest,
    ::testing::Values(RefusalCase { "NoBus", false, 1 }, RefusalCase { "Refused", true, 2 }),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quillmark::testing
