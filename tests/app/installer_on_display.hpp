#pragma once

#include "tests/app/accessibility_bus.hpp"
#include "tests/app/private_desktop.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/temporary_folder.hpp"
#include "tools/window-reader/accessible_window.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quillmark::testing {

// A copy of the viewer, as the disk carries it or a user installed it.
struct ViewerCopy {
    std::string version = QUILLMARK_VERSION;
    std::string build = QUILLMARK_BUILD;
    std::string releaseVersion = QUILLMARK_RELEASE_VERSION;
    // Large enough that verifying it, inside the commit, takes a moment.
    bool large = false;
};

// The copies the end-to-end tests put on the disk or at a destination.
inline const ViewerCopy ourRelease {};
inline const ViewerCopy olderRelease { .version = "2.3.1", .build = "231", .releaseVersion = "2.3.1" };
inline const ViewerCopy newerRelease { .version = "2.9", .build = "299", .releaseVersion = "2.9.0" };

// The real installer executable, from a real read-only disk image, on a
// display and accessibility bus of the test's own, observed from outside the
// way a screen reader observes it and driven with the keyboard.
//
// A test makes the disk (`makeDisk`), puts copies where a user would have
// them (`putCopy`), isolates itself (`isolate`: from then on only the test's
// folder is writable and /Applications is read-only and empty), starts the
// installer (`startInstaller`) and reads its window (`waitFor`). Screenshots
// of the display are kept in the build tree when a test fails.
class InstallerOnDisplayTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

public:
    // The disk image with the installer of this build beside `payload`,
    // sealed; `tamper` changes a sealed file afterwards.
    void makeDisk(const ViewerCopy& payload = {}, bool tamper = false);
    // The disk image with the installer and the real sample viewer of this
    // build, as the release ships them.
    void makeDiskWithSampleViewer();
    // The disk image the build ships, with its self-contained bundles.
    void useShippedDisk();
    // A sealed copy in the private home folder's Applications.
    void putCopy(const ViewerCopy& copy);
    bool isolate();
    void startInstaller();
    // The same, started through `wrapper` (a sandbox's command line, for
    // example), which runs it as a process of its own below the wrapper's.
    void startInstallerThrough(const std::vector<std::string>& wrapper);
    void startInstallerWith(const std::vector<std::string>& wrapper, const std::map<std::string, std::string>& environment);
    // The environment the installer is started with.
    std::map<std::string, std::string> installerEnvironment() const;
    std::string installerPath() const;

    // Waits until the window shows what `wanted` asks for; the failure
    // message names `what` and the last state read.
    windowreader::ApplicationSnapshot waitFor(const std::string& what,
        const std::function<bool(const windowreader::ApplicationSnapshot&)>& wanted,
        std::chrono::seconds limit = std::chrono::seconds(60));
    // Waits for the status line to read exactly `text`.
    windowreader::ApplicationSnapshot waitForStatus(const std::string& text);
    void press(const std::string& keys);
    // Saves a picture of the whole display in the test's folder.
    std::string screenshot(const std::string& name);

    std::string userRoot() const { return home + "/Applications"; }
    std::string userApplication() const { return userRoot() + "/Quillmark.app"; }

    TemporaryFolder folder;
    std::unique_ptr<VirtualDisplay> display;
    std::unique_ptr<PrivateAccessibilityBus> bus;
    std::unique_ptr<ChildProcess> installer;
    // The installer's own process: installer's, unless a wrapper started it.
    int installerPid = 0;
    std::unique_ptr<windowreader::ApplicationReader> reader;
    std::string xdotool;
    std::string home;
    bool isolated = false;

private:
    // The squashfs image of the folder "disk".
    void imageDisk();
};

// The installer's exact texts that the tests compare with.
namespace installerTexts {
std::string installedAt(const std::string& application);
std::string destination(const std::string& application);
std::string item(const std::string& root, const std::optional<ViewerCopy>& copy);
} // namespace installerTexts

} // namespace quillmark::testing
