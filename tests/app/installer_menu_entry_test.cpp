// The installed copy in the desktop's application menu, checked with the
// desktop's own tools: the entry the real installer writes into the private
// home is valid, the desktop's launcher starts the installed viewer from it
// the way "Open Quillmark" starts it, and another installation rewrites the
// same entry.

#include "tests/app/installer_on_display.hpp"

#include "platform/desktop/window_close_request.hpp"
#include "tests/support/scoped_mount.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>

namespace quillmark {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using testing::ViewerCopy;
using testing::olderRelease;
using windowreader::ApplicationSnapshot;
namespace texts = testing::installerTexts;


// The process whose program is `program`, or 0.
pid_t processRunning(const fs::path& program)
{
    std::error_code error;
    for (fs::directory_iterator entry("/proc", error), end; !error && entry != end; entry.increment(error)) {
        const auto name = entry->path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::error_code unreadable;
        if (fs::read_symlink(entry->path() / "exe", unreadable) == program)
            return static_cast<pid_t>(std::stoi(name));
    }
    return 0;
}

// The arguments a process was started with.
std::vector<std::string> argumentsOf(pid_t pid)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::vector<std::string> arguments;
    for (std::string argument; std::getline(file, argument, '\0');)
        arguments.push_back(argument);
    return arguments;
}

// The value of `key` in an entry's text.
std::string valueOf(const std::string& entry, const std::string& key)
{
    auto start = entry.find("\n" + key + "=");
    if (start == std::string::npos)
        return "";
    start += key.size() + 2;
    return entry.substr(start, entry.find('\n', start) - start);
}

// Orphans of this process's children become its own while it lives, so that
// a program a launcher started and left can be waited for here.
class AdoptedOrphans {
public:
    AdoptedOrphans() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }
    ~AdoptedOrphans() { ::prctl(PR_SET_CHILD_SUBREAPER, 0); }
};

class MenuEntryTest : public testing::InstallerOnDisplayTest {
public:
    std::string dataFolder() const { return home + "/.local/share"; }
    std::string entry() const { return dataFolder() + "/applications/app.quillmark.viewer.desktop"; }

    // Installs through the window, from the offer `button` to Done.
    void installThroughTheWindow(const std::string& button)
    {
        ASSERT_NO_FATAL_FAILURE(startInstaller());
        ASSERT_TRUE(reader);
        waitFor("the offer \"" + button + "\"",
            [&](const ApplicationSnapshot& window) { return window.buttonEnabled(button) == true; });
        press("Return");
        // Both in one snapshot: one read of the window may see the title
        // before the change and the status after it.
        waitFor("Quillmark is ready", [&](const ApplicationSnapshot& window) {
            return window.headline() == "Quillmark is ready"
                && window.statusText() == texts::installedAt(userApplication());
        });
        press("Escape");
        EXPECT_EQ(installer->waitForExit(30s), 0);
    }

    std::vector<std::string> entries() const
    {
        std::vector<std::string> found;
        std::error_code error;
        for (fs::directory_iterator item(dataFolder() + "/applications", error), end; !error && item != end;
            item.increment(error)) {
            if (item->path().extension() == ".desktop")
                found.push_back(item->path().filename().string());
        }
        return found;
    }
};

TEST_F(MenuEntryTest, TheUpdatedViewerIsListedOnceAndStartsFromItsEntry)
{
    const auto validator = testing::programPath("desktop-file-validate");
    const auto launcher = testing::programPath("gio");
    if (validator.empty() || launcher.empty())
        GTEST_SKIP() << "desktop-file-validate (desktop-file-utils) or gio (libglib2.0-bin) is not installed";
    ASSERT_NO_FATAL_FAILURE(makeDiskWithSampleViewer());
    putCopy(olderRelease);
    ASSERT_TRUE(isolate());
    ASSERT_NO_FATAL_FAILURE(installThroughTheWindow("Update Quillmark"));

    ASSERT_EQ(entries(), std::vector<std::string> { "app.quillmark.viewer.desktop" });
    auto validated = testing::runCommand({ validator, entry() });
    EXPECT_EQ(validated.exitStatus, 0) << validated.output << validated.errors;
    EXPECT_EQ(validated.output + validated.errors, "");
    const auto program = userApplication() + "/Contents/MacOS/Quillmark";
    const auto written = testing::readFile(entry());
    EXPECT_NE(written.find("\nExec=\"" + program + "\"\n"), std::string::npos) << written;
    EXPECT_EQ(testing::readFile(dataFolder() + "/icons/hicolor/128x128/apps/app.quillmark.viewer.png"),
        testing::readFile(userApplication() + "/Contents/Resources/Quillmark.png"));

    {
        AdoptedOrphans adopted;
        testing::ChildProcess launch({ launcher, "launch", entry() },
            { { "DISPLAY", display->name() }, { "HOME", home }, { "XDG_RUNTIME_DIR", folder.path("runtime") },
                { "DBUS_SESSION_BUS_ADDRESS", bus->sessionAddress() } });
        EXPECT_EQ(launch.waitForExit(30s), 0) << "gio launch failed";
        pid_t viewer = 0;
        for (auto deadline = std::chrono::steady_clock::now() + 30s;
             !(viewer = processRunning(fs::canonical(program))) && std::chrono::steady_clock::now() < deadline;)
            std::this_thread::sleep_for(50ms);
        ASSERT_NE(viewer, 0) << "the entry did not start " << program;
        // As "Open Quillmark" starts it: the program alone, in "/".
        EXPECT_EQ(argumentsOf(viewer), std::vector<std::string> { program });
        EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(viewer) + "/cwd"), "/");

        // The desktop ties the viewer's window to the entry by its class.
        const std::vector<std::string> classSearch { xdotool, "search", "--all", "--onlyvisible", "--pid",
            std::to_string(viewer), "--class", "^" + valueOf(written, "StartupWMClass") + "$" };
        bool shown = false;
        for (auto deadline = std::chrono::steady_clock::now() + 30s;
             !(shown = testing::runCommand(classSearch).exitStatus == 0) && std::chrono::steady_clock::now() < deadline;)
            std::this_thread::sleep_for(100ms);
        EXPECT_TRUE(shown) << "the viewer never showed a window of the class the entry names";
        // Asked as a window manager's close button asks.
        EXPECT_GT(platform::askWindowsToClose(viewer), 0);
        int status = -1;
        pid_t ended = 0;
        for (auto deadline = std::chrono::steady_clock::now() + 30s;
             (ended = ::waitpid(viewer, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline;)
            std::this_thread::sleep_for(50ms);
        if (ended == 0)
            ::kill(viewer, SIGKILL);
        ASSERT_EQ(ended, viewer) << "the viewer did not quit when asked";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }

    // Another installation of the same copy takes over the same entry.
    ASSERT_NO_FATAL_FAILURE(installThroughTheWindow("Reinstall / Repair"));
    EXPECT_EQ(entries(), std::vector<std::string> { "app.quillmark.viewer.desktop" });
    EXPECT_EQ(testing::readFile(entry()), written);
}

// The menu is not part of the installation: a data folder that cannot be
// written leaves the window exactly as it is without one.
TEST_F(MenuEntryTest, AReadOnlyDataFolderStillEndsReady)
{
    ASSERT_NO_FATAL_FAILURE(makeDisk());
    putCopy(olderRelease);
    testing::makeFolder(dataFolder());
    ASSERT_TRUE(isolate());
    std::string whyNot;
    auto readOnly = testing::ScopedMount::readOnlyBind(dataFolder(), whyNot);
    ASSERT_TRUE(readOnly) << whyNot;
    ASSERT_NO_FATAL_FAILURE(installThroughTheWindow("Update Quillmark"));
    EXPECT_TRUE(entries().empty());
}

} // namespace
} // namespace quillmark
