// The disk image as a person downloads it, on a desktop that has only the
// base set: the installer starts from the mounted image in a sandbox whose
// root holds the base-set libraries, the fonts and the display, updates an
// older copy in a home folder there, and the installed viewer then starts
// from its menu entry in the same kind of sandbox.

#include "tests/app/base_set_sandbox.hpp"
#include "tests/app/installer_on_display.hpp"

#include "engine/installer_engine.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <thread>

namespace quillmark {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using windowreader::ApplicationSnapshot;

// The program a menu entry starts: its Exec key, quoted as the installer
// writes it.
std::string programOfEntry(const std::string& entry)
{
    const std::string text = testing::readFile(entry);
    const auto start = text.find("\nExec=");
    if (start == std::string::npos)
        return "";
    std::string value = text.substr(start + 6, text.find('\n', start + 1) - start - 6);
    if (value.size() < 2 || value.front() != '"' || value.back() != '"')
        return value;
    std::string program;
    for (std::size_t i = 1; i + 1 < value.size(); ++i) {
        if (value[i] == '\\' && i + 2 < value.size())
            ++i;
        program += value[i];
    }
    return program;
}

class InstallerInSandboxTest : public testing::InstallerOnDisplayTest {
protected:
    void SetUp() override
    {
        InstallerOnDisplayTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        if (testing::programPath("bwrap").empty())
            GTEST_SKIP() << "bubblewrap is not installed";
        sandbox = std::make_unique<testing::BaseSetSandbox>(QUILLMARK_BASE_SET, display->name());
        for (const char* lent : { "home", "runtime", "bus" })
            sandbox->lend(folder.path(lent));
        sandbox->lendReadOnly(folder.path("volume"));
    }

    std::unique_ptr<testing::BaseSetSandbox> sandbox;
};

TEST_F(InstallerInSandboxTest, HoldsNoneOfTheLibrariesTheBundlesCarry)
{
    const auto& libraries = sandbox->libraries();
    EXPECT_NE(std::find(libraries.begin(), libraries.end(), "libc.so.6"), libraries.end());
    for (const auto& library : libraries) {
        for (const char* carried : { "libQt6", "libicu", "libplist", "libcrypto", "libssl" })
            EXPECT_FALSE(library.starts_with(carried)) << library;
    }
}

TEST_F(InstallerInSandboxTest, AnInstallerThatLeansOnTheBuildMachineStopsAtTheLoader)
{
    // The build tree's installer loads this machine's Qt and OpenSSL.
    sandbox->lendReadOnly(QUILLMARK_INSTALLER_BUNDLE_DIR);
    auto started = testing::runCommand(
        sandbox->command({ std::string(QUILLMARK_INSTALLER_BUNDLE_DIR) + "/Contents/MacOS/QuillmarkInstaller" }));
    EXPECT_EQ(started.exitStatus, 127);
    EXPECT_NE(started.errors.find("error while loading shared libraries"), std::string::npos) << started.errors;
}

TEST_F(InstallerInSandboxTest, UpdatesFromTheShippedDiskAndTheViewerStartsFromItsMenuEntry)
{
    ASSERT_NO_FATAL_FAILURE(useShippedDisk());
    putCopy(testing::olderRelease);
    ASSERT_TRUE(isolate());
    sandbox->lend(folder.path("scratch"));

    ASSERT_NO_FATAL_FAILURE(startInstallerThrough(sandbox->command({})));
    waitFor("Update Quillmark",
        [](const ApplicationSnapshot& window) { return window.buttonEnabled("Update Quillmark") == true; });
    press("Return");
    waitFor("Open Quillmark",
        [](const ApplicationSnapshot& window) { return window.buttonEnabled("Open Quillmark") == true; });
    press("Escape");
    EXPECT_EQ(installer->waitForExit(30s), 0);
    reader.reset();

    InstallerEngine engine({ platform::FileURL(userRoot(), true) });
    auto installed = engine.verifiedPayload(platform::FileURL(userApplication(), true));
    EXPECT_EQ(installed.releaseVersion, QUILLMARK_RELEASE_VERSION);
    EXPECT_EQ(installed.build, QUILLMARK_BUILD);

    const auto program = programOfEntry(home + "/.local/share/applications/app.quillmark.viewer.desktop");
    ASSERT_EQ(program, userApplication() + "/Contents/MacOS/Quillmark");
    testing::ChildProcess sandboxed(sandbox->command({ program }), installerEnvironment());
    const pid_t viewer = testing::descendantRunning(sandboxed.pid(), program, 60s);
    ASSERT_NE(viewer, 0) << "the viewer did not start in the sandbox";
    const std::vector<std::string> windowSearch { xdotool, "search", "--all", "--onlyvisible", "--pid",
        std::to_string(viewer), "--class", "." };
    bool shown = false;
    for (auto deadline = std::chrono::steady_clock::now() + 60s;
         !(shown = testing::runCommand(windowSearch).exitStatus == 0) && std::chrono::steady_clock::now() < deadline;)
        std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(shown) << "the viewer never showed its window";
    screenshot("viewer");
    ASSERT_EQ(::kill(viewer, SIGTERM), 0);
    EXPECT_EQ(sandboxed.waitForExit(30s), 0) << "the viewer did not quit when asked";
}

} // namespace
} // namespace quillmark
