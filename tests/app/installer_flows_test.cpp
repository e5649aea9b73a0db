// The installer's flows from the disk image, each read over the accessibility
// bus: the status line must say exactly what the installer's texts say.

#include "tests/app/installer_on_display.hpp"

#include "engine/installer_engine.hpp"
#include "platform/desktop/window_close_request.hpp"
#include "tests/support/bundle_builder.hpp"
#include "tests/support/sealing.hpp"
#include "tests/support/tree_snapshot.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <unistd.h>

namespace quillmark {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using testing::ViewerCopy;
using testing::newerRelease;
using testing::olderRelease;
using testing::ourRelease;
using windowreader::ApplicationSnapshot;
namespace texts = testing::installerTexts;

const std::string systemApplication = "/Applications/Quillmark.app";
const std::string olderVersionText
    = "The installed copy is newer than this installer. Continuing requires confirmation before installing an older version.";
const std::string reinstallText
    = "This version and build are already installed. Reinstall replaces the application while retaining your settings.";

class InstallerFlowTest : public testing::InstallerOnDisplayTest {
public:
    void start(std::optional<ViewerCopy> installed, bool tamper = false)
    {
        makeDisk(ourRelease, tamper);
        if (installed)
            putCopy(*installed);
        ASSERT_TRUE(isolate());
        ASSERT_NO_FATAL_FAILURE(startInstaller());
        ASSERT_TRUE(reader);
    }

    // Waits until the window offers `button` with the status `status`.
    void expectOffer(const std::string& button, const std::string& status)
    {
        waitFor("the offer \"" + button + "\" with \"" + status + "\"", [&](const ApplicationSnapshot& window) {
            return window.buttonEnabled(button) == true && window.statusText() == status;
        });
    }

    void chooseItem(std::size_t index)
    {
        auto window = reader->snapshot();
        const auto* box = window.find("combo box");
        ASSERT_NE(box, nullptr) << window.describe();
        std::vector<const windowreader::AccessibleNode*> items;
        for (const auto* list : window.childrenOf(*box))
            for (const auto* item : window.childrenOf(*list))
                items.push_back(item);
        ASSERT_LT(index, items.size()) << window.describe();
        ASSERT_TRUE(reader->perform(*items[index], "Press")) << "the item offers no action that chooses it";
    }

    const windowreader::AccessibleNode* sheetButton(const ApplicationSnapshot& window, const std::string& name)
    {
        const auto* sheet = window.sheet();
        if (!sheet)
            return nullptr;
        for (const auto* node = sheet + 1; node < window.nodes.data() + window.nodes.size() && node->depth > sheet->depth; ++node) {
            if (node->role == "push button" && node->name == name)
                return node;
        }
        return nullptr;
    }

    ApplicationSnapshot waitForSheet(const std::string& question)
    {
        return waitFor("the sheet \"" + question + "\"", [&](const ApplicationSnapshot& window) {
            return window.sheet() && window.sheet()->name == question;
        });
    }

    void answerSheet(const std::string& question, const std::string& button)
    {
        auto window = waitForSheet(question);
        const auto* pressed = sheetButton(window, button);
        ASSERT_NE(pressed, nullptr) << window.describe();
        ASSERT_TRUE(reader->perform(*pressed, "Press"));
        waitFor("the sheet gone", [](const ApplicationSnapshot& now) { return now.sheet() == nullptr; });
    }

    void expectInstalled(const std::string& application, const ViewerCopy& copy)
    {
        InstallerEngine engine({ platform::FileURL(fs::path(application).parent_path().string(), true) });
        auto installed = engine.verifiedPayload(platform::FileURL(application, true));
        EXPECT_EQ(installed.releaseVersion, copy.releaseVersion);
        EXPECT_EQ(installed.build, copy.build);
    }

    void expectStillRunning()
    {
        EXPECT_FALSE(installer->waitForExit(500ms)) << "the installer quit";
    }
};

// The flows that end in an installation: what is offered, what the user
// does, and the installed result.
struct InstallCase {
    const char* name;
    std::optional<ViewerCopy> installed;
    const char* offer;
    std::function<std::string(const InstallerFlowTest&)> offeredStatus;
    std::function<void(InstallerFlowTest&)> act;
};

class InstallFlowTest : public InstallerFlowTest, public ::testing::WithParamInterface<InstallCase> { };

TEST_P(InstallFlowTest, InstallsAndSaysWhere)
{
    ASSERT_NO_FATAL_FAILURE(start(GetParam().installed));
    expectOffer(GetParam().offer, GetParam().offeredStatus(*this));
    GetParam().act(*this);
    // Both in one snapshot: one read of the window may see the title before
    // the change and the status after it.
    auto done = waitFor("Quillmark is ready", [&](const ApplicationSnapshot& window) {
        return window.headline() == "Quillmark is ready" && window.statusText() == texts::installedAt(userApplication());
    });
    EXPECT_EQ(done.buttonEnabled("Open Quillmark"), true);
    EXPECT_EQ(done.buttonEnabled("Done"), true);
    press("Escape");
    EXPECT_EQ(installer->waitForExit(30s), 0);
    expectInstalled(userApplication(), ourRelease);
}

INSTANTIATE_TEST_SUITE_P(Flows, InstallFlowTest,
    ::testing::Values(
        InstallCase { "FreshInstallInTheOtherDestination", std::nullopt, "Install Quillmark",
            [](const auto&) { return texts::destination(systemApplication); },
            [](auto& test) {
                test.chooseItem(1);
                test.expectOffer("Install Quillmark", texts::destination(test.userApplication()));
                test.press("Return");
            } },
        InstallCase { "Update", olderRelease, "Update Quillmark",
            [](const auto& test) { return texts::destination(test.userApplication()); },
            [](auto& test) { test.press("Return"); } },
        InstallCase { "Reinstall", ourRelease, "Reinstall / Repair", [](const auto&) { return reinstallText; },
            [](auto& test) { test.press("Return"); } },
        InstallCase { "OlderVersionConfirmed", newerRelease, "Install Older Version Quillmark",
            [](const auto&) { return olderVersionText; },
            [](auto& test) {
                test.press("Return");
                test.answerSheet("Install an older Quillmark version?", "Install Older Version");
            } }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InstallerFlowTest, OlderVersionDeclinedChangesNothing)
{
    ASSERT_NO_FATAL_FAILURE(start(newerRelease));
    expectOffer("Install Older Version Quillmark", olderVersionText);
    press("Return");
    waitForSheet("Install an older Quillmark version?");
    press("Escape");
    auto window = waitFor("the sheet gone and the focus back on the pop-up", [](const ApplicationSnapshot& now) {
        return !now.sheet() && now.focused() && now.focused()->role == "combo box";
    });
    EXPECT_EQ(window.statusText(), olderVersionText);
    expectStillRunning();
    expectInstalled(userApplication(), newerRelease);
}

// An update killed between its two moves left the previous copy in its
// staging folder and nothing at the destination: the next start offers it
// back, and putting it back restores the very files.
TEST_F(InstallerFlowTest, AKeptPreviousCopyIsOfferedAndPutBack)
{
    makeDisk(ourRelease);
    putCopy(olderRelease);
    const auto before = testing::snapshotTree(userApplication());
    const auto staging = userRoot() + "/.Quillmark-install-0F8E2A4C-1B3D-4E5F-8A9B-0C1D2E3F4A5B";
    fs::create_directory(staging);
    fs::rename(userApplication(), staging + "/Previous Quillmark.app");
    ASSERT_TRUE(isolate());
    ASSERT_NO_FATAL_FAILURE(startInstaller());
    ASSERT_TRUE(reader);

    answerSheet("Put back your previous Quillmark?", "Put Back Previous Copy");

    const auto application = fs::canonical(userRoot()).string() + "/Quillmark.app";
    expectOffer("Update Quillmark", "Your previous copy, Quillmark 2.3.1 (build 231), is back at " + application + ".");
    EXPECT_EQ(testing::snapshotTree(userApplication()), before);
    EXPECT_FALSE(fs::exists(staging));
}

TEST_F(InstallerFlowTest, TamperedPayloadIsRefusedWithItsReason)
{
    makeDisk(ourRelease, true);
    ASSERT_TRUE(isolate());
    std::string refusal;
    try {
        InstallerEngine({}).verifiedPayload(platform::FileURL(folder.path("volume/Quillmark.app"), true));
    } catch (const std::exception& error) {
        refusal = error.what();
    }
    ASSERT_TRUE(refusal.starts_with("The application failed its integrity check: ")) << refusal;
    ASSERT_TRUE(refusal.ends_with(" Download a fresh installer.")) << refusal;
    ASSERT_NO_FATAL_FAILURE(startInstaller());
    ASSERT_TRUE(reader);
    auto window = waitForStatus(refusal);
    EXPECT_EQ(window.buttonEnabled("Choose Quillmark.app\u2026"), true);
}

TEST_F(InstallerFlowTest, ChoosingTheOtherDestinationShowsItsOffer)
{
    ASSERT_NO_FATAL_FAILURE(start(olderRelease));
    expectOffer("Update Quillmark", texts::destination(userApplication()));
    chooseItem(0);
    auto window = waitFor("the system folder's offer", [](const ApplicationSnapshot& now) {
        return now.buttonEnabled("Install Quillmark") == true && now.statusText() == texts::destination(systemApplication);
    });
    EXPECT_EQ(window.popUpValue(), texts::item("/Applications", std::nullopt));
    chooseItem(1);
    expectOffer("Update Quillmark", texts::destination(userApplication()));
    expectStillRunning();
}

TEST_F(InstallerFlowTest, PermissionFailureOffersTheUsersFolder)
{
    ASSERT_NO_FATAL_FAILURE(start(std::nullopt));
    expectOffer("Install Quillmark", texts::destination(systemApplication));
    press("Return");
    auto window = waitForSheet("Install for your user account instead?");
    EXPECT_EQ(window.sheet()->description,
        "This account cannot write to /Applications. You can install in " + userRoot()
            + " without administrator access. An existing copy there will be reviewed first.");
    answerSheet("Install for your user account instead?", "Choose My Applications Folder");
    window = reader->snapshot();
    expectOffer("Install Quillmark", texts::destination(userApplication()));
    EXPECT_EQ(reader->snapshot().popUpValue(), texts::item(userRoot(), std::nullopt));
    EXPECT_FALSE(fs::exists(userApplication())) << "the offer must not install by itself";
    expectStillRunning();
}

TEST_F(InstallerFlowTest, KeyboardOnlyChoosesWithoutInstallingAndClosesWithoutQuitting)
{
    ASSERT_NO_FATAL_FAILURE(start(std::nullopt));
    expectOffer("Install Quillmark", texts::destination(systemApplication));
    auto onPopUp = [](const ApplicationSnapshot& now) { return now.focused() && now.focused()->role == "combo box"; };
    waitFor("the focus on the pop-up", onPopUp);
    // The keyboard goes from the pop-up to the buttons, left to right, and back.
    auto onButton = [](const std::string& name) {
        return [name](const ApplicationSnapshot& now) {
            return now.focused() && now.focused()->role == "push button" && now.focused()->name == name;
        };
    };
    press("Tab");
    waitFor("the focus on Cancel", onButton("Cancel"));
    press("Tab");
    waitFor("the focus on Install Quillmark", onButton("Install Quillmark"));
    press("shift+Tab");
    waitFor("the focus back on Cancel", onButton("Cancel"));
    press("shift+Tab");
    waitFor("the focus back on the pop-up", onPopUp);

    // Keys meant for the open list wait until it is open: sent earlier, they
    // would reach the closed pop-up or the window, as a user's would.
    auto listOpen = [](const ApplicationSnapshot& now) {
        const auto* box = now.find("combo box");
        if (!box)
            return false;
        for (const auto* list : now.childrenOf(*box))
            if (list->showing)
                return true;
        return false;
    };
    press("alt+Down");
    waitFor("the list open", listOpen);
    press("Down");
    press("Return");
    auto window = waitFor("the user's folder chosen", [&](const ApplicationSnapshot& now) {
        return now.statusText() == texts::destination(userApplication()) && onPopUp(now);
    });
    EXPECT_EQ(window.buttonEnabled("Install Quillmark"), true) << "choosing must not start the installation";
    expectStillRunning();
    EXPECT_FALSE(fs::exists(userApplication()));

    press("alt+Down");
    waitFor("the list open", listOpen);
    press("Escape");
    waitFor("the list closed", [&](const ApplicationSnapshot& now) { return !listOpen(now) && onPopUp(now); });
    expectStillRunning();
    window = reader->snapshot();
    EXPECT_EQ(window.statusText(), texts::destination(userApplication()));
    EXPECT_EQ(window.buttonEnabled("Install Quillmark"), true);
}

// A quit request over a sheet: the sheet ends as if cancelled, and the idle
// installer quits without installing.
enum class QuitRequest { quitKey, windowClosed };

class QuitOverASheetTest : public InstallerFlowTest, public ::testing::WithParamInterface<QuitRequest> { };

TEST_P(QuitOverASheetTest, QuitsWithoutInstalling)
{
    ASSERT_NO_FATAL_FAILURE(start(newerRelease));
    expectOffer("Install Older Version Quillmark", olderVersionText);
    press("Return");
    waitForSheet("Install an older Quillmark version?");
    if (GetParam() == QuitRequest::quitKey)
        press("ctrl+q");
    else // as a window manager's close button asks
        ASSERT_GT(platform::askWindowsToClose(installer->pid()), 0) << "the installer's window takes no close request";
    EXPECT_EQ(installer->waitForExit(30s), 0);
    expectInstalled(userApplication(), newerRelease);
}

INSTANTIATE_TEST_SUITE_P(Requests, QuitOverASheetTest,
    ::testing::Values(QuitRequest::quitKey, QuitRequest::windowClosed),
    [](const ::testing::TestParamInfo<QuitRequest>& info) {
        return info.param == QuitRequest::quitKey ? "QuitKey" : "WindowClosed";
    });

// A copy started through the dynamic loader runs the loader as its program;
// it is found all the same, asked to quit the way it handles, and quits on
// its own, so the update goes on without any process being stopped.
TEST_F(InstallerFlowTest, ACopyStartedThroughTheLoaderIsAskedToQuitAndTheUpdateGoesOn)
{
    const std::string loader = "/lib64/ld-linux-x86-64.so.2";
    if (::access(loader.c_str(), X_OK) != 0)
        GTEST_SKIP() << "no dynamic loader at " << loader;
    makeDisk(ourRelease);
    testing::BundleBuilder()
        .version(olderRelease.version)
        .build(olderRelease.build)
        .releaseVersion(olderRelease.releaseVersion)
        .executable(testing::readFile(QUILLMARK_SAMPLE_PAYLOAD_DIR "/Contents/MacOS/Quillmark"))
        .write(userApplication());
    testing::sealBundle(platform::FileURL(userApplication(), true));
    ASSERT_TRUE(isolate());
    testing::ChildProcess viewer({ loader, userApplication() + "/Contents/MacOS/Quillmark" },
        { { "DISPLAY", display->name() }, { "HOME", home }, { "XDG_RUNTIME_DIR", folder.path("runtime") },
            { "DBUS_SESSION_BUS_ADDRESS", bus->sessionAddress() } });
    ASSERT_EQ(fs::read_symlink("/proc/" + std::to_string(viewer.pid()) + "/exe"), fs::canonical(loader));
    ASSERT_NO_FATAL_FAILURE(startInstaller());
    ASSERT_TRUE(reader);

    expectOffer("Update Quillmark", texts::destination(userApplication()));
    // The viewer's window shares the display and may hold the keyboard focus,
    // so the button is pressed the way a screen reader presses it.
    auto offer = reader->snapshot();
    const auto* update = offer.find("push button", "Update Quillmark");
    ASSERT_NE(update, nullptr) << offer.describe();
    ASSERT_TRUE(reader->perform(*update, "Press"));
    waitForSheet("Quit Quillmark before continuing?");
    EXPECT_EQ(viewer.waitForExit(0ms), std::nullopt) << "the copy was stopped before the user agreed";
    answerSheet("Quit Quillmark before continuing?", "Quit and Continue");

    EXPECT_EQ(viewer.waitForExit(30s), 0) << "the copy did not quit on its own, with status 0";
    waitFor("the update finished", [&](const ApplicationSnapshot& window) {
        return window.statusText() == texts::installedAt(userApplication()) && window.headline() == "Quillmark is ready";
    });
    press("Escape");
    EXPECT_EQ(installer->waitForExit(30s), 0);
    expectInstalled(userApplication(), ourRelease);
}

} // namespace
} // namespace quillmark
