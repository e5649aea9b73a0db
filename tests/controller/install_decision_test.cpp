#include "tests/controller/installer_harness.hpp"

#include <chrono>

namespace quillmark::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* waitingText = "Waiting for Quillmark to quit\u2026 You can cancel.";
constexpr const char* stillRunningText = "Quillmark is still running. Quit it manually, then try again. Nothing was replaced.";
constexpr const char* copyingText = "Copying and verifying Quillmark\u2026 You can cancel before replacement begins.";
constexpr const char* cancelledText = "Installation cancelled. The previous application was kept.";

const platform::FileURL systemCopy = systemRoot.appendingDirectory("Quillmark.app");

TEST(InstallDecisionTest, NewInstallUpdateAndReinstallGoStraightToInstalling)
{
    struct Case {
        const char* name;
        InstallerLocation location;
    };
    for (const auto& row : { Case { "new", newLocation(systemRoot) }, Case { "update", installedLocation(systemRoot, "2.3.0", "230") },
             Case { "reinstall", installedLocation(systemRoot, "2.4.0", "241") } }) {
        SCOPED_TRACE(row.name);
        InstallerHarness harness;
        harness.becomeReady({ row.location, newLocation(userRoot) });
        auto before = harness.installer->cancellation();
        harness.installer->installOrOpen();
        EXPECT_TRUE(harness.desktop.alerts.empty());
        harness.expectState(State::installing);
        EXPECT_EQ(harness.status().text, copyingText);
        EXPECT_NE(harness.installer->cancellation(), before) << "each installation has its own cancellation";
        EXPECT_EQ(harness.desktop.pendingBackgroundTasks(), 1u);
    }
}

TEST(InstallDecisionTest, AnOlderVersionNeedsConfirmation)
{
    InstallerHarness harness;
    harness.becomeReady({ installedLocation(systemRoot, "2.10.0", "300"), newLocation(userRoot) });
    harness.installer->installOrOpen();

    auto shown = harness.desktop.unansweredAlert();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->alert.message, "Install an older Quillmark version?");
    EXPECT_EQ(shown->alert.informativeText,
        "Installed: 2.10.0 (build 300)\nIncoming: 2.4.0 (build 241)\n/Applications/Quillmark.app\nYour preferences are "
        "retained, but older versions may not understand settings saved by a newer release.");
    EXPECT_EQ(shown->alert.buttons, (std::vector<std::string> { "Install Older Version", "Cancel" }));
    harness.expectState(State::ready);
    EXPECT_EQ(harness.desktop.pendingBackgroundTasks(), 0u);
}

TEST(InstallDecisionTest, OnlyTheFirstButtonOfTheOlderVersionAlertProceeds)
{
    for (long answer : { platform::alertFirstButtonReturn + 1, 0L, -1000L }) {
        InstallerHarness harness;
        harness.becomeReady({ installedLocation(systemRoot, "2.10.0", "300"), newLocation(userRoot) });
        harness.installer->installOrOpen();
        harness.desktop.answerAlert(answer);
        harness.expectState(State::ready);
        EXPECT_EQ(harness.status().text, "The installed copy is newer than this installer. Continuing requires "
                                         "confirmation before installing an older version.");
    }
    InstallerHarness harness;
    harness.becomeReady({ installedLocation(systemRoot, "2.10.0", "300"), newLocation(userRoot) });
    harness.installer->installOrOpen();
    harness.desktop.answerAlert(platform::alertFirstButtonReturn);
    harness.expectState(State::installing);
}

TEST(InstallDecisionTest, TheOlderVersionAnswerStillChecksForARunningCopy)
{
    InstallerHarness harness;
    harness.becomeReady({ installedLocation(systemRoot, "2.10.0", "300"), newLocation(userRoot) });
    harness.desktop.addRunningApplication("app.quillmark.viewer", systemCopy);
    harness.installer->installOrOpen();
    harness.desktop.answerAlert(platform::alertFirstButtonReturn);
    auto shown = harness.desktop.unansweredAlert();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->alert.message, "Quit Quillmark before continuing?");
    harness.expectState(State::ready);
}

TEST(InstallDecisionTest, PressingPrimaryWhileBusyDoesNothing)
{
    InstallerHarness harness;
    harness.becomeReady({ newLocation(systemRoot), newLocation(userRoot) });
    harness.desktop.addRunningApplication("app.quillmark.viewer", systemCopy)->declinesQuit = true;
    harness.installer->installOrOpen();
    harness.desktop.answerAlert(platform::alertFirstButtonReturn);
    harness.expectState(State::waiting);
    auto alerts = harness.desktop.alerts.size();
    harness.installer->installOrOpen();
    harness.installer->prepareInstall(payloadIdentity(), newLocation(systemRoot));
    EXPECT_EQ(harness.desktop.alerts.size(), alerts);
    EXPECT_EQ(harness.desktop.pendingBackgroundTasks(), 0u);
    harness.expectState(State::waiting);
}

TEST(InstallDecisionTest, ARunningCopyIsAskedAboutFirst)
{
    InstallerHarness harness;
    harness.becomeReady({ newLocation(systemRoot), newLocation(userRoot) });
    auto copy = harness.desktop.addRunningApplication("app.quillmark.viewer", systemCopy);
    harness.installer->installOrOpen();

    auto shown = harness.desktop.unansweredAlert();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->alert.message, "Quit Quillmark before continuing?");
    EXPECT_EQ(shown->alert.informativeText, "The copy at /Applications/Quillmark.app is running. Quillmark will be asked "
                                            "to quit normally. No process will be forcibly stopped.");
    EXPECT_EQ(shown->alert.buttons, (std::vector<std::string> { "Quit and Continue", "Cancel" }));
    harness.expectState(State::ready);

    harness.desktop.answerAlert(platform::alertFirstButtonReturn + 1);
    harness.expectState(State::ready);
    EXPECT_EQ(copy->quitRequests, 0);
    EXPECT_EQ(harness.desktop.validTimers(), 0u);
}

// Starts a wait for one copy running from the system root.
struct WaitFixture {
    explicit WaitFixture(bool declines)
    {
        harness.becomeReady({ newLocation(systemRoot), newLocation(userRoot) });
        copy = harness.desktop.addRunningApplication("app.quillmark.viewer", systemCopy);
        copy->declinesQuit = declines;
        harness.installer->installOrOpen();
        harness.desktop.answerAlert(platform::alertFirstButtonReturn);
    }
    InstallerHarness harness;
    std::shared_ptr<FakeRunningApplication> copy;
};

TEST(InstallDecisionTest, QuitAndContinueAsksTheCopyToQuitAndWaits)
{
    InstallerHarness harness;
    harness.becomeReady({ newLocation(systemRoot), newLocation(userRoot) });
    auto copy = harness.desktop.addRunningApplication("app.quillmark.viewer", systemCopy);
    copy->declinesQuit = true;
    auto elsewhere = harness.desktop.addRunningApplication("app.quillmark.viewer", userRoot.appendingDirectory("Quillmark.app"));
    harness.installer->installOrOpen();
    auto before = harness.installer->cancellation();
    harness.desktop.answerAlert(platform::alertFirstButtonReturn);

    harness.expectState(State::waiting);
    EXPECT_EQ(harness.status().text, waitingText);
    EXPECT_EQ(copy->quitRequests, 1);
    EXPECT_EQ(elsewhere->quitRequests, 0) << "only copies running from the destination are asked";
    EXPECT_EQ(harness.installer->generation(), 1);
    EXPECT_NE(harness.installer->cancellation(), before);
    EXPECT_FALSE(harness.installer->cancellation()->test());
    EXPECT_EQ(harness.desktop.validTimers(), 1u);
    EXPECT_EQ(harness.desktop.pendingBackgroundTasks(), 0u) << "nothing is installed while the copy runs";
}

TEST(InstallDecisionTest, InstallsAtTheFirstTickAfterTheCopyHasGone)
{
    WaitFixture wait(true);
    auto& harness = wait.harness;
    harness.desktop.advance(2100ms);
    harness.expectState(State::waiting);

    wait.copy->terminated = true;
    harness.desktop.advance(299ms);
    // No tick has come yet.
    harness.expectState(State::waiting);
    harness.desktop.advance(1ms);
    harness.expectState(State::installing);
    EXPECT_EQ(harness.status().text, copyingText);
    EXPECT_EQ(harness.desktop.validTimers(), 0u);
    EXPECT_EQ(harness.desktop.alerts.size(), 1u) << "no further prompt";
    harness.settle();
    harness.expectState(State::installed);
}

TEST(InstallDecisionTest, TheDeadlineIsStrict)
{
    WaitFixture wait(true);
    auto& harness = wait.harness;
    harness.desktop.advance(30s);
    // A tick exactly at the deadline keeps waiting.
    harness.expectState(State::waiting);
    EXPECT_EQ(harness.status().text, waitingText);

    harness.desktop.advance(300ms);
    harness.expectState(State::ready);
    EXPECT_EQ(harness.status().text, stillRunningText);
    EXPECT_EQ(harness.primary().title, "Install Quillmark");
    EXPECT_EQ(harness.desktop.validTimers(), 0u);
    EXPECT_EQ(wait.copy->quitRequests, 1) << "never asked twice, never forced";
    EXPECT_EQ(harness.engine->installs, 0);
    EXPECT_EQ(harness.desktop.pendingBackgroundTasks(), 0u);
}

TEST(InstallDecisionTest, ACopyStartedDuringTheWaitKeepsItGoing)
{
    WaitFixture wait(false);
    auto& harness = wait.harness;
    auto late = harness.desktop.addRunningApplication("app.quillmark.viewer", systemCopy);
    late->declinesQuit = true;
    harness.desktop.advance(30s);
    harness.expectState(State::waiting);
    EXPECT_EQ(late->quitRequests, 0) << "it was not running when the user agreed";
    harness.desktop.advance(300ms);
    EXPECT_EQ(harness.status().text, stillRunningText);
}

TEST(InstallDecisionTest, CancelEndsTheWaitAtOnceAndALateTickDoesNothing)
{
    WaitFixture wait(true);
    auto& harness = wait.harness;
    harness.desktop.advance(600ms);
    harness.installer->cancelOrClose();

    harness.expectState(State::ready);
    EXPECT_EQ(harness.status().text, cancelledText);
    EXPECT_EQ(harness.installer->generation(), 2);
    EXPECT_TRUE(harness.installer->cancellation()->test());
    EXPECT_EQ(harness.desktop.validTimers(), 0u);
    EXPECT_FALSE(harness.desktop.terminated);
}

TEST(InstallDecisionTest, AStaleTickOnlyStopsItsTimer)
{
    InstallerHarness harness;
    harness.becomeReady({ newLocation(systemRoot), newLocation(userRoot) });
    auto copy = harness.desktop.addRunningApplication("app.quillmark.viewer", systemCopy);
    copy->declinesQuit = true;
    harness.installer->installOrOpen();
    harness.desktop.answerAlert(platform::alertFirstButtonReturn);
    harness.desktop.advance(300ms);
    harness.installer->cancelOrClose();
    harness.expectState(State::ready);

    // A tick that was already on its way when the wait ended, with the copy gone.
    copy->terminated = true;
    auto stale = harness.desktop.lastTimer();
    ASSERT_TRUE(stale);
    stale->tick(*stale);

    EXPECT_FALSE(stale->valid);
    EXPECT_EQ(harness.installer->generation(), 2);
    harness.expectState(State::ready);
    EXPECT_EQ(harness.status().text, cancelledText);
    EXPECT_EQ(harness.engine->installs, 0);
    EXPECT_EQ(harness.desktop.pendingBackgroundTasks(), 0u);
}

TEST(InstallDecisionTest, ClosingTheWindowDuringTheWaitEndsItAndThenTheApplication)
{
    for (bool byQuitRequest : { false, true }) {
        SCOPED_TRACE(byQuitRequest ? "quit request" : "window close");
        WaitFixture wait(true);
        auto& harness = wait.harness;
        if (byQuitRequest)
            harness.desktop.terminate();
        else
            EXPECT_FALSE(harness.installer->windowShouldClose());
        EXPECT_EQ(harness.status().text, cancelledText);
        EXPECT_TRUE(harness.installer->quitAfterCancel());
        EXPECT_TRUE(harness.desktop.terminated);
        EXPECT_EQ(harness.desktop.validTimers(), 0u);
    }
}

TEST(InstallDecisionTest, AConflictOrNoSelectionInstallsNothing)
{
    InstallerHarness harness;
    harness.becomeReady({ conflictLocation(systemRoot, "occupied"), newLocation(userRoot) });
    harness.installer->installOrOpen();
    EXPECT_TRUE(harness.desktop.alerts.empty());
    EXPECT_EQ(harness.desktop.pendingBackgroundTasks(), 0u);
    harness.expectState(State::ready);
}

} // namespace
} // namespace quillmark::testing
