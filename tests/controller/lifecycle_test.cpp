#include "tests/controller/installer_harness.hpp"

#include <thread>

namespace quillmark::testing {
namespace {

TEST(ControllerLifecycleTest, StartsWithItsInitialTextsAndFlags)
{
    InstallerHarness harness;
    const auto& controller = *harness.installer;
    EXPECT_EQ(harness.title().text, "Install or Update Quillmark");
    EXPECT_EQ(harness.description().text, "Checking the application on this disk\u2026");
    EXPECT_EQ(harness.status().text, "");
    EXPECT_EQ(harness.primary().title, "Install Quillmark");
    EXPECT_EQ(harness.secondary().title, "Cancel");
    EXPECT_TRUE(harness.destinations().items.empty());
    EXPECT_FALSE(controller.payload());
    EXPECT_TRUE(controller.choices().empty());
    EXPECT_FALSE(controller.result());
    EXPECT_FALSE(controller.busy());
    EXPECT_FALSE(controller.committing());
    EXPECT_FALSE(controller.waiting());
    EXPECT_FALSE(controller.quitAfterCancel());
    ASSERT_NE(controller.cancellation(), nullptr);
    EXPECT_FALSE(controller.cancellation()->test());
    EXPECT_EQ(controller.generation(), 0);
    EXPECT_EQ(harness.engineCreations, 0) << "the engine is made on first use, not with the controller";
}

TEST(ControllerLifecycleTest, LaunchShowsTheWindowAndChecksTheBundleBesideTheInstaller)
{
    InstallerHarness harness;
    std::optional<platform::FileURL> checked;
    harness.engine->verify = [&](const platform::FileURL& bundle) -> InstalledIdentity {
        checked = bundle;
        throw InstallerFailure("refused");
    };
    harness.installer->applicationDidFinishLaunching();

    ASSERT_TRUE(harness.desktop.window);
    const auto& window = *harness.desktop.window;
    EXPECT_EQ(window.title, "Install or Update Quillmark");
    EXPECT_EQ(&window.statusLabel, &harness.installer->statusLabel());
    EXPECT_EQ(&window.primary, &harness.installer->primary());
    EXPECT_EQ(&window.secondary, &harness.installer->secondary());
    EXPECT_EQ(harness.desktop.activations, 1);
    harness.expectState(State::loading);
    EXPECT_EQ(harness.title().text, "Install or Update Quillmark");
    EXPECT_EQ(harness.description().text, "Checking the application on this disk\u2026");
    EXPECT_EQ(harness.primary().title, "Install Quillmark");
    EXPECT_EQ(harness.desktop.pendingBackgroundTasks(), 1u) << "the check runs in the background";
    EXPECT_FALSE(checked);

    harness.settle();
    ASSERT_TRUE(checked);
    EXPECT_EQ(checked->path(), payloadBundle.path());
}

TEST(ControllerLifecycleTest, TheWindowActionsReachTheController)
{
    InstallerHarness harness;
    harness.becomeReady({ newLocation(systemRoot), installedLocation(userRoot, "2.3.0", "230") });
    auto& window = *harness.desktop.window;
    harness.destinations().selectItem(0);
    window.destinationsAction();
    EXPECT_EQ(harness.primary().title, "Install Quillmark");
    window.primaryAction();
    harness.expectState(State::installing);
    window.secondaryAction();
    EXPECT_EQ(harness.status().text, "Stopping before replacement\u2026");
}

enum class Leave { cancelButton, windowClose, quitRequest };

void PrintTo(Leave how, std::ostream* out)
{
    constexpr const char* names[] = { "CancelButton", "WindowClose", "QuitRequest" };
    *out << names[static_cast<int>(how)];
}

std::string caseName(const ::testing::TestParamInfo<std::tuple<State, Leave>>& info)
{
    return ::testing::PrintToString(std::get<0>(info.param)) + "_" + ::testing::PrintToString(std::get<1>(info.param));
}

void leave(InstallerHarness& harness, Leave how)
{
    switch (how) {
    case Leave::cancelButton:
        harness.installer->cancelOrClose();
        break;
    case Leave::windowClose:
        EXPECT_FALSE(harness.installer->windowShouldClose()) << "the window itself never closes";
        break;
    case Leave::quitRequest:
        harness.desktop.terminate();
        break;
    }
}

class IdleLeaveTest : public ::testing::TestWithParam<std::tuple<State, Leave>> { };

TEST_P(IdleLeaveTest, EndsTheApplicationAtOnce)
{
    auto [state, how] = GetParam();
    InstallerHarness harness;
    switch (state) {
    case State::unavailable:
        harness.becomeUnavailable(std::make_exception_ptr(InstallerFailure("refused")));
        break;
    case State::installed:
        harness.becomeReady({ newLocation(systemRoot), newLocation(userRoot) });
        harness.startInstall();
        harness.settle();
        harness.expectState(State::installed);
        break;
    default:
        harness.becomeReady({ newLocation(systemRoot), newLocation(userRoot) });
        break;
    }
    EXPECT_EQ(harness.installer->applicationShouldTerminate(), platform::TerminateReply::now);
    EXPECT_FALSE(harness.desktop.terminated);
    leave(harness, how);
    EXPECT_TRUE(harness.desktop.terminated);
    EXPECT_FALSE(harness.installer->quitAfterCancel());
}

INSTANTIATE_TEST_SUITE_P(EveryIdleState, IdleLeaveTest,
    ::testing::Combine(::testing::Values(State::ready, State::unavailable, State::installed),
        ::testing::Values(Leave::cancelButton, Leave::windowClose, Leave::quitRequest)),
    caseName);

class LoadingLeaveTest : public ::testing::TestWithParam<Leave> { };

// Leaving while the check runs waits for it; the success step leaves before
// writing anything, the failure step writes its error first.
TEST_P(LoadingLeaveTest, WaitsForTheCheckAndThenEnds)
{
    for (bool verified : { true, false }) {
        SCOPED_TRACE(verified ? "check passes" : "check fails");
        InstallerHarness harness;
        harness.engine->setLocations({ newLocation(systemRoot), newLocation(userRoot) });
        harness.engine->verify = [verified](const platform::FileURL&) -> InstalledIdentity {
            if (!verified)
                throw InstallerFailure("This application is not a valid Quillmark viewer bundle.");
            return payloadIdentity();
        };
        harness.installer->applicationDidFinishLaunching();
        leave(harness, GetParam());

        EXPECT_TRUE(harness.installer->quitAfterCancel());
        EXPECT_FALSE(harness.secondary().enabled);
        EXPECT_EQ(harness.status().text, "Stopping before replacement\u2026");
        EXPECT_FALSE(harness.desktop.terminated) << "the check runs to its end first";

        harness.settle();
        EXPECT_TRUE(harness.desktop.terminated);
        EXPECT_EQ(harness.title().text, "Install or Update Quillmark");
        EXPECT_EQ(harness.description().text, "Checking the application on this disk\u2026");
        EXPECT_EQ(harness.primary().title, "Install Quillmark");
        if (verified) {
            EXPECT_EQ(harness.status().text, "Stopping before replacement\u2026");
            EXPECT_TRUE(harness.destinations().items.empty());
        } else {
            EXPECT_EQ(harness.status().text, "This application is not a valid Quillmark viewer bundle.");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryWayOut, LoadingLeaveTest,
    ::testing::Values(Leave::cancelButton, Leave::windowClose, Leave::quitRequest),
    [](const auto& info) { return ::testing::PrintToString(info.param); });

TEST(ControllerLifecycleTest, AQuitRequestWhileBusyIsAnsweredWithCancelAndAsksNoSecondTime)
{
    InstallerHarness harness;
    harness.becomeReady({ newLocation(systemRoot), newLocation(userRoot) });
    harness.startInstall();
    EXPECT_EQ(harness.installer->applicationShouldTerminate(), platform::TerminateReply::cancel);
    EXPECT_TRUE(harness.installer->quitAfterCancel());
    EXPECT_EQ(harness.desktop.terminateRequests, 0);
    harness.settle();
    EXPECT_EQ(harness.desktop.terminateRequests, 1);
    EXPECT_TRUE(harness.desktop.terminated);
    EXPECT_TRUE(harness.desktop.alerts.empty());
}

TEST(ControllerLifecycleTest, SetBusyEnablesTheListOnlyWithAPayload)
{
    InstallerHarness harness;
    harness.installer->setBusy(false);
    EXPECT_FALSE(harness.destinations().enabled);
    EXPECT_TRUE(harness.primary().enabled);
    EXPECT_TRUE(harness.secondary().enabled);
    EXPECT_FALSE(harness.progress().visible);
    EXPECT_FALSE(harness.progress().animating);

    harness.becomeReady({ newLocation(systemRoot), newLocation(userRoot) });
    harness.installer->setBusy(false);
    EXPECT_TRUE(harness.destinations().enabled);
}

TEST(ControllerLifecycleTest, MakesOneEngineEvenWhenTwoThreadsAskAtOnce)
{
    InstallerHarness harness;
    std::atomic<bool> go { false };
    auto ask = [&] {
        while (!go) {
        }
        (void)harness.installer->engine();
    };
    std::thread first(ask);
    std::thread second(ask);
    go = true;
    first.join();
    second.join();
    EXPECT_EQ(harness.engineCreations, 1);
    EXPECT_EQ(&harness.installer->engine(), harness.engine.get());
}

} // namespace
} // namespace quillmark::testing
