#include "tests/controller/installer_harness.hpp"

#include "platform/error.hpp"

#include <future>
#include <thread>

namespace quillmark::testing {
namespace {

constexpr const char* stoppingText = "Stopping before replacement\u2026";
constexpr const char* applyingText = "Applying the verified application\u2026";
constexpr const char* cancelledText = "Installation cancelled. The previous application was kept.";
constexpr const char* startedAgainText = "Quillmark started again. Quit it, then try the installation again. Nothing was replaced.";

const platform::FileURL systemCopy = systemRoot.appendingDirectory("Quillmark.app");

TEST(InstallExecutionTest, ASuccessOffersToOpenTheInstalledCopy)
{
    InstallerHarness harness;
    harness.becomeReady({ installedLocation(systemRoot, "2.3.0", "230"), newLocation(userRoot) });
    harness.startInstall();
    harness.settle();

    harness.expectState(State::installed);
    EXPECT_EQ(harness.title().text, "Quillmark is ready");
    EXPECT_EQ(harness.status().text, "Installed at /Applications/Quillmark.app. Your documents and preferences were "
                                     "retained. You can eject the installer disk after closing this window.");
    EXPECT_EQ(harness.installer->result()->installed, systemCopy);
    EXPECT_EQ(harness.engine->locationReads, 1) << "a success does not read the list again";
}

TEST(InstallExecutionTest, ASuccessWithAReservationShowsOnlyTheReservation)
{
    InstallerHarness harness;
    harness.becomeReady({ installedLocation(systemRoot, "2.3.0", "230"), newLocation(userRoot) });
    harness.engine->installScript = [](const InstalledIdentity&, const InstallerLocation& location, const InstallCallbacks& callbacks) {
        return followTransaction(callbacks, { location.root.appendingDirectory("Quillmark.app"), "The old copy stays behind." });
    };
    harness.startInstall();
    harness.settle();
    harness.expectState(State::installed);
    EXPECT_EQ(harness.title().text, "Quillmark is ready");
    EXPECT_EQ(harness.status().text, "The old copy stays behind.");
}

TEST(InstallExecutionTest, TheInstallationGetsThePayloadLocationAndItsOwnCancellation)
{
    InstallerHarness harness;
    harness.becomeReady({ newLocation(systemRoot), installedLocation(userRoot, "2.3.0", "230") });
    std::optional<InstalledIdentity> given;
    std::optional<InstallerLocation> where;
    harness.engine->installScript = [&](const InstalledIdentity& payload, const InstallerLocation& location, const InstallCallbacks& callbacks) {
        given = payload;
        where = location;
        EXPECT_TRUE(callbacks.cancelled);
        EXPECT_TRUE(callbacks.ensureNotRunning);
        EXPECT_TRUE(callbacks.phase);
        EXPECT_FALSE(callbacks.beforeCommit);
        EXPECT_FALSE(callbacks.afterReplace);
        return followTransaction(callbacks, { location.root.appendingDirectory("Quillmark.app"), std::nullopt });
    };
    harness.startInstall();
    harness.settle();
    ASSERT_TRUE(given);
    EXPECT_EQ(given->url, payloadBundle);
    EXPECT_EQ(where->root, userRoot);
    EXPECT_EQ(harness.status().text.rfind("Installed at /home/tester/Applications/Quillmark.app.", 0), 0u);
}

// The registration is disk work: it runs off the main thread, and only after
// the success has been sent there, so the window never waits for it.
TEST(InstallExecutionTest, TheInstalledCopyIsRegisteredWithTheDesktopAfterTheSuccessIsShown)
{
    InstallerHarness harness(FakeDesktop::Background::onThreads);
    harness.becomeReady({ installedLocation(systemRoot, "2.3.0", "230"), newLocation(userRoot) });
    std::promise<void> shown;
    auto released = shown.get_future().share();
    std::atomic<bool> offMain = false;
    std::atomic<bool> heldUntilShown = false;
    const auto mainThread = std::this_thread::get_id();
    harness.registration = [&, released](const platform::FileURL&) {
        offMain = std::this_thread::get_id() != mainThread;
        heldUntilShown = released.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    };
    harness.startInstall();
    // The running check, the committing report, then the success.
    while (!harness.installer->result()) {
        harness.desktop.waitForMainTask();
        harness.desktop.runOneMainTask();
    }
    harness.expectState(State::installed);
    EXPECT_EQ(harness.title().text, "Quillmark is ready");
    shown.set_value();
    harness.desktop.finishBackgroundWork();

    EXPECT_EQ(harness.registered(), std::vector { systemCopy });
    EXPECT_TRUE(offMain);
    EXPECT_TRUE(heldUntilShown) << "the success waited for the registration";
}

TEST(InstallExecutionTest, AFailedRegistrationChangesNothingAndSaysOneSentenceOnStandardError)
{
    InstallerHarness harness;
    harness.becomeReady({ newLocation(systemRoot), installedLocation(userRoot, "2.3.0", "230") });
    harness.registration = [](const platform::FileURL&) {
        throw platform::fileError(EROFS, platform::FileAccess::writing, "create the folder",
            "/home/tester/.local/share/applications");
    };
    ::testing::internal::CaptureStderr();
    harness.startInstall();
    harness.settle();
    const auto said = ::testing::internal::GetCapturedStderr();

    harness.expectState(State::installed);
    EXPECT_EQ(harness.title().text, "Quillmark is ready");
    EXPECT_EQ(harness.status().text, "Installed at /home/tester/Applications/Quillmark.app. Your documents and "
                                     "preferences were retained. You can eject the installer disk after closing "
                                     "this window.");
    EXPECT_EQ(harness.primary().title, "Open Quillmark");
    EXPECT_EQ(harness.secondary().title, "Done");
    EXPECT_EQ(said, "Quillmark was installed, but could not be added to the applications menu: Could not create the "
                    "folder \u201C/home/tester/.local/share/applications\u201D because the volume is read-only.\n");
}

TEST(InstallExecutionTest, CancelWhileCopyingStopsBeforeTheReplacement)
{
    InstallerHarness harness;
    harness.becomeReady({ newLocation(systemRoot), installedLocation(userRoot, "2.3.0", "230") });
    harness.startInstall();
    harness.installer->cancelOrClose();
    EXPECT_EQ(harness.status().text, stoppingText);
    EXPECT_FALSE(harness.secondary().enabled);
    EXPECT_FALSE(harness.installer->quitAfterCancel());
    EXPECT_TRUE(harness.installer->busy());

    harness.settle();
    harness.expectState(State::ready);
    EXPECT_EQ(harness.status().text, cancelledText);
    EXPECT_EQ(harness.destinations().selected, 1);
    EXPECT_EQ(harness.engine->locationReads, 1) << "the list is not read again";
    EXPECT_FALSE(harness.desktop.terminated);
    EXPECT_TRUE(harness.registered().empty());
}

// The installation on a real thread, stopped by its "committing" hop.
struct CommitRace {
    CommitRace()
        : harness(FakeDesktop::Background::onThreads)
    {
        harness.becomeReady({ installedLocation(systemRoot, "2.3.0", "230"), newLocation(userRoot) });
        harness.startInstall();
        // The first hop is the running check.
        harness.desktop.waitForMainTask();
        harness.desktop.runOneMainTask();
        // The next is the report that the replacement begins.
        harness.desktop.waitForMainTask();
        EXPECT_FALSE(harness.installer->committing());
    }
    InstallerHarness harness;
};

TEST(InstallExecutionTest, ACancelHandledBeforeTheCommittingHopIsHonoured)
{
    CommitRace race;
    auto& harness = race.harness;
    harness.installer->cancelOrClose();
    EXPECT_EQ(harness.status().text, stoppingText);
    harness.desktop.runOneMainTask();
    harness.desktop.finishBackgroundWork();
    harness.desktop.runMainTasks();

    harness.expectState(State::ready);
    EXPECT_EQ(harness.status().text, cancelledText);
    EXPECT_FALSE(harness.installer->result());
}

TEST(InstallExecutionTest, ACancelAfterTheCommittingHopIsIgnored)
{
    CommitRace race;
    auto& harness = race.harness;
    harness.desktop.runOneMainTask();
    harness.expectState(State::committing);
    EXPECT_EQ(harness.status().text, applyingText);

    auto cancellation = harness.installer->cancellation();
    harness.installer->cancelOrClose();
    EXPECT_FALSE(cancellation->test());
    EXPECT_EQ(harness.status().text, applyingText);
    harness.expectState(State::committing);

    // The second running check hops to the main queue too.
    harness.desktop.drain();
    harness.expectState(State::installed);
    EXPECT_EQ(harness.title().text, "Quillmark is ready");
}

TEST(InstallExecutionTest, LeavingWhileCommittingOnlyMarksTheQuit)
{
    for (bool succeeds : { true, false }) {
        for (bool byQuitRequest : { false, true }) {
            SCOPED_TRACE(std::string(succeeds ? "succeeds" : "fails") + (byQuitRequest ? ", quit request" : ", window close"));
            CommitRace race;
            auto& harness = race.harness;
            if (!succeeds) {
                // The running check after the commit hop finds a copy.
                harness.desktop.addRunningApplication("app.quillmark.viewer", systemCopy);
            }
            harness.desktop.runOneMainTask();
            harness.expectState(State::committing);
            if (byQuitRequest)
                harness.desktop.terminate();
            else
                EXPECT_FALSE(harness.installer->windowShouldClose());
            EXPECT_TRUE(harness.installer->quitAfterCancel());
            EXPECT_EQ(harness.status().text, applyingText);
            EXPECT_FALSE(harness.desktop.terminated);
            EXPECT_FALSE(harness.installer->cancellation()->test());

            harness.desktop.drain();
            EXPECT_TRUE(harness.desktop.terminated);
            EXPECT_EQ(harness.title().text, "Quillmark 2.4.0") << "the outcome is not shown";
            EXPECT_EQ(harness.status().text, applyingText);
        }
    }
}

class QuitWhileInstallingTest : public ::testing::TestWithParam<std::tuple<bool, bool>> { };

TEST_P(QuitWhileInstallingTest, EndsWhenTheInstallationReportsWithoutShowingIt)
{
    auto [succeeds, byQuitRequest] = GetParam();
    InstallerHarness harness;
    harness.becomeReady({ installedLocation(systemRoot, "2.3.0", "230"), newLocation(userRoot) });
    harness.engine->installScript = [succeeds](const InstalledIdentity&, const InstallerLocation& location, const InstallCallbacks&) -> InstallerResult {
        // Too far along to look at the cancellation any more.
        if (!succeeds)
            throw InstallerFailure("The staged copy failed verification.");
        return { location.root.appendingDirectory("Quillmark.app"), std::nullopt };
    };
    harness.startInstall();
    if (byQuitRequest)
        EXPECT_EQ(harness.installer->applicationShouldTerminate(), platform::TerminateReply::cancel);
    else
        EXPECT_FALSE(harness.installer->windowShouldClose());
    EXPECT_EQ(harness.status().text, stoppingText);
    EXPECT_TRUE(harness.installer->cancellation()->test());
    harness.settle();
    EXPECT_TRUE(harness.desktop.terminated);
    EXPECT_EQ(harness.title().text, "Quillmark 2.4.0");
    EXPECT_EQ(harness.status().text, stoppingText);
    EXPECT_EQ(harness.engine->locationReads, 1);
    EXPECT_TRUE(harness.desktop.alerts.empty());
    EXPECT_EQ(harness.registered().size(), succeeds ? 1u : 0u) << "an installed copy is registered all the same";
}

INSTANTIATE_TEST_SUITE_P(BothOutcomes, QuitWhileInstallingTest, ::testing::Combine(::testing::Bool(), ::testing::Bool()),
    [](const auto& info) {
        return std::string(std::get<0>(info.param) ? "Success" : "Failure") + (std::get<1>(info.param) ? "_QuitRequest" : "_WindowClose");
    });

TEST(InstallExecutionTest, ACopyStartedAgainStopsTheInstallation)
{
    InstallerHarness harness;
    harness.becomeReady({ installedLocation(systemRoot, "2.3.0", "230"), newLocation(userRoot) });
    harness.startInstall();
    harness.desktop.addRunningApplication("app.quillmark.viewer", systemCopy);
    harness.settle();
    harness.expectState(State::ready);
    EXPECT_EQ(harness.status().text, startedAgainText);
    EXPECT_EQ(harness.primary().title, "Update Quillmark");
    EXPECT_TRUE(harness.primary().enabled);
}

TEST(InstallExecutionTest, AFailureReadsTheListAgainAndShowsTheError)
{
    InstallerHarness harness;
    harness.becomeReady({ newLocation(systemRoot), installedLocation(userRoot, "2.3.0", "230") });
    harness.destinations().selectItem(0);
    harness.installer->locationChanged();
    harness.engine->setLocations({ installedLocation(systemRoot, "2.3.0", "230"), installedLocation(userRoot, "2.3.0", "230") });
    harness.engine->installScript = [](const InstalledIdentity&, const InstallerLocation& location, const InstallCallbacks&) -> InstallerResult {
        throw platform::fileError(ENOSPC, platform::FileAccess::writing, "copy the application into", location.root.path());
    };
    harness.startInstall();
    harness.settle();

    harness.expectState(State::ready);
    EXPECT_EQ(harness.engine->locationReads, 2);
    EXPECT_EQ(harness.destinations().selected, 0) << "the failed root stays selected";
    EXPECT_EQ(harness.destinations().items[0], "/Applications \u00B7 2.3.0 (build 230)");
    EXPECT_EQ(harness.primary().title, "Update Quillmark");
    EXPECT_EQ(harness.status().text, "Could not copy the application into \u201C/Applications\u201D because there isn't enough space on the volume.");
    EXPECT_TRUE(harness.desktop.alerts.empty()) << "no room is not a permission problem";
    EXPECT_TRUE(harness.registered().empty());
}

struct PermissionCase {
    const char* name;
    platform::FileURL failingRoot;
    std::exception_ptr error;
    bool offersUserFolder;
};

std::vector<PermissionCase> permissionCases()
{
    auto denied = [](const platform::FileURL& root) {
        return std::make_exception_ptr(platform::fileError(EACCES, platform::FileAccess::writing, "create a folder in", root.path()));
    };
    return {
        { "SystemRootRefused", systemRoot, denied(systemRoot), true },
        { "SystemRootReadOnly", systemRoot,
            std::make_exception_ptr(platform::fileError(EROFS, platform::FileAccess::writing, "create a folder in", "/Applications")), true },
        { "UserRootRefused", userRoot, denied(userRoot), false },
        { "SystemRootOtherError", systemRoot, std::make_exception_ptr(InstallerFailure("Another installer is working here.")), false },
    };
}

class PermissionFailureTest : public ::testing::TestWithParam<PermissionCase> { };

TEST_P(PermissionFailureTest, OffersTheUserFolderOnlyForTheSystemWideRoot)
{
    const auto& row = GetParam();
    InstallerHarness harness;
    harness.becomeReady({ newLocation(systemRoot), newLocation(userRoot) });
    harness.destinations().selectItem(row.failingRoot == systemRoot ? 0 : 1);
    harness.installer->locationChanged();
    harness.engine->installScript = [&](const InstalledIdentity&, const InstallerLocation&, const InstallCallbacks&) -> InstallerResult {
        std::rethrow_exception(row.error);
    };
    harness.startInstall();
    harness.settle();

    harness.expectState(State::ready);
    EXPECT_EQ(harness.status().text, errorDescription(row.error));
    auto shown = harness.desktop.unansweredAlert();
    ASSERT_EQ(shown.has_value(), row.offersUserFolder);
    if (!row.offersUserFolder)
        return;
    EXPECT_EQ(shown->alert.message, "Install for your user account instead?");
    EXPECT_EQ(shown->alert.informativeText, "This account cannot write to /Applications. You can install in "
                                            "/home/tester/Applications without administrator access. An existing copy "
                                            "there will be reviewed first.");
    EXPECT_EQ(shown->alert.buttons, (std::vector<std::string> { "Choose My Applications Folder", "Cancel" }));
}

INSTANTIATE_TEST_SUITE_P(EveryFailure, PermissionFailureTest, ::testing::ValuesIn(permissionCases()),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InstallExecutionTest, ChoosingTheUserFolderSelectsItWithoutInstalling)
{
    for (long answer : { platform::alertFirstButtonReturn, platform::alertFirstButtonReturn + 1 }) {
        InstallerHarness harness;
        harness.becomeReady({ newLocation(systemRoot), installedLocation(userRoot, "2.3.0", "230") });
        harness.destinations().selectItem(0);
        harness.installer->locationChanged();
        harness.engine->installScript = [](const InstalledIdentity&, const InstallerLocation& location, const InstallCallbacks&) -> InstallerResult {
            throw platform::fileError(EACCES, platform::FileAccess::writing, "create a folder in", location.root.path());
        };
        harness.startInstall();
        harness.settle();
        auto errorText = harness.status().text;
        harness.desktop.answerAlert(answer);

        harness.expectState(State::ready);
        EXPECT_EQ(harness.engine->installs, 1);
        EXPECT_EQ(harness.desktop.pendingBackgroundTasks(), 0u);
        if (answer == platform::alertFirstButtonReturn) {
            EXPECT_EQ(harness.destinations().selected, 1);
            EXPECT_EQ(harness.primary().title, "Update Quillmark");
            EXPECT_EQ(harness.status().text, "Destination: /home/tester/Applications/Quillmark.app");
        } else {
            EXPECT_EQ(harness.destinations().selected, 0);
            EXPECT_EQ(harness.status().text, errorText);
        }
    }
}

TEST(InstallExecutionTest, OpeningTheInstalledCopyEndsTheInstaller)
{
    InstallerHarness harness;
    harness.becomeReady({ newLocation(systemRoot), newLocation(userRoot) });
    harness.startInstall();
    harness.settle();
    harness.installer->installOrOpen();
    harness.installer->installOrOpen();
    ASSERT_EQ(harness.desktop.openRequests.size(), 2u) << "each press asks for a new instance";
    EXPECT_EQ(harness.desktop.openRequests[0].application, systemCopy);

    // The answer comes on another thread and is carried to the main queue.
    std::thread([&] { harness.desktop.openRequests[0].completion(nullptr); }).join();
    EXPECT_FALSE(harness.desktop.terminated);
    harness.desktop.runMainTasks();
    EXPECT_TRUE(harness.desktop.terminated);
}

TEST(InstallExecutionTest, AnOpeningThatReportsAfterTheInstallerEndedReachesNothing)
{
    InstallerHarness harness;
    harness.becomeReady({ newLocation(systemRoot), newLocation(userRoot) });
    harness.startInstall();
    harness.settle();
    harness.installer->installOrOpen();
    harness.installer->installOrOpen();
    ASSERT_EQ(harness.desktop.openRequests.size(), 2u);

    // Done was pressed: the installer ends while both openings are under way.
    std::thread([&] { harness.desktop.openRequests[0].completion(nullptr); }).join();
    harness.installer.reset();
    std::thread([&] { harness.desktop.openRequests[1].completion(nullptr); }).join();
    harness.desktop.runMainTasks();
    EXPECT_FALSE(harness.desktop.terminated) << "a completion reached the ended installer";
}

TEST(InstallExecutionTest, AFailedOpenKeepsTheInstallerInstalled)
{
    InstallerHarness harness;
    harness.becomeReady({ newLocation(systemRoot), newLocation(userRoot) });
    harness.startInstall();
    harness.settle();
    harness.installer->installOrOpen();
    auto failure = platform::posixError(EACCES, "start", "/Applications/Quillmark.app/Contents/MacOS/Quillmark");
    std::thread([&] { harness.desktop.openRequests[0].completion(std::make_exception_ptr(failure)); }).join();
    harness.desktop.runMainTasks();

    EXPECT_FALSE(harness.desktop.terminated);
    harness.expectState(State::installed);
    EXPECT_EQ(harness.status().text, "Quillmark was installed, but could not be opened: Could not start "
                                     "\u201C/Applications/Quillmark.app/Contents/MacOS/Quillmark\u201D because you don't have permission.");
    harness.installer->installOrOpen();
    EXPECT_EQ(harness.desktop.openRequests.size(), 2u) << "the button can be pressed again";
}

TEST(InstallExecutionTest, DoneAfterTheInstallationEndsTheInstaller)
{
    InstallerHarness harness;
    harness.becomeReady({ newLocation(systemRoot), newLocation(userRoot) });
    harness.startInstall();
    harness.settle();
    harness.installer->cancelOrClose();
    EXPECT_TRUE(harness.desktop.terminated);
    EXPECT_TRUE(harness.desktop.openRequests.empty());
}

} // namespace
} // namespace quillmark::testing
