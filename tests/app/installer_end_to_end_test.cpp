// The real installer, started from a real read-only disk image, updates an
// older copy in a private home folder through its window, driven with keys.

#include "tests/app/private_desktop.hpp"

#include "engine/installer_engine.hpp"
#include "tests/support/bundle_builder.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/sealing.hpp"
#include "tests/support/temporary_folder.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace quillmark {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string installerInBundle = "Install Quillmark.app/Contents/MacOS/QuillmarkInstaller";

// Large enough that verifying the installed copy, inside the commit, takes
// a noticeable moment.
constexpr std::size_t largeResourceBytes = 64u << 20;

void writeLargeResource(const std::string& bundle, char fill)
{
    std::ofstream out(bundle + "/Contents/Resources/Pages.bin", std::ios::binary);
    std::string block(1 << 20, fill);
    for (std::size_t written = 0; written < largeResourceBytes; written += block.size())
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
}

std::string readText(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The first staging folder's backup of the old copy, once the commit has
// moved it aside.
std::optional<fs::path> backupBeingCommitted(const std::string& root)
{
    std::error_code error;
    for (fs::directory_iterator entry(root, error), end; !error && entry != end; entry.increment(error)) {
        if (entry->path().filename().string().starts_with(".Quillmark-install-")) {
            auto backup = entry->path() / "Previous Quillmark.app";
            if (fs::exists(backup, error))
                return backup;
        }
    }
    return std::nullopt;
}

enum class Interruption { none, sigtermDuringCommit };

struct EndToEndCase {
    const char* name;
    Interruption interruption;
};

class InstallerEndToEndTest : public ::testing::TestWithParam<EndToEndCase> {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "mounting the disk image and isolating the file system need root";
        xdotool = testing::programOnPath("xdotool").value_or("");
        if (xdotool.empty())
            GTEST_SKIP() << "xdotool is not installed";
        std::string whyNot;
        display = testing::VirtualDisplay::start(whyNot);
        if (!display)
            GTEST_SKIP() << whyNot;

        // The disk: the installer bundle of this build beside a sealed payload
        // of the release and build it was made for.
        testing::makeFolder(folder.path("disk"));
        ASSERT_EQ(testing::runCommand({ "/bin/cp", "-a", QUILLMARK_INSTALLER_BUNDLE_DIR, folder.path("disk") }).exitStatus, 0);
        auto payload = folder.path("disk/Quillmark.app");
        testing::BundleBuilder().version(QUILLMARK_VERSION).build(QUILLMARK_BUILD).releaseVersion(QUILLMARK_RELEASE_VERSION).write(payload);
        writeLargeResource(payload, 'n');
        testing::sealBundle(platform::FileURL(payload, true));
        auto made = testing::runCommand({ "/bin/bash", QUILLMARK_MAKE_DISK_IMAGE, folder.path("Quillmark.squashfs"),
            folder.path("disk/Install Quillmark.app"), payload });
        ASSERT_EQ(made.exitStatus, 0) << made.errors;

        // The user's older copy, in a home folder of the test's own.
        home = folder.path("home");
        testing::BundleBuilder().version("2.3.1").build("231").releaseVersion("2.3.1").write(home + "/Applications/Quillmark.app");
        writeLargeResource(home + "/Applications/Quillmark.app", 'o');
        testing::sealBundle(platform::FileURL(home + "/Applications/Quillmark.app", true));
        testing::makeFolder(folder.path("runtime"));
        ::chmod(folder.path("runtime").c_str(), 0700);
        testing::makeFolder(folder.path("volume"));

        isolated = testing::isolateWithDiskImage(folder.path(), folder.path("Quillmark.squashfs"), folder.path("volume"), whyNot);
        if (!isolated)
            GTEST_SKIP() << whyNot;
        ::setenv("DISPLAY", display->name().c_str(), 1);
        // Everything else is read-only now, scratch files included.
        testing::makeFolder(folder.path("scratch"));
        ::setenv("TMPDIR", folder.path("scratch").c_str(), 1);
    }

    void TearDown() override
    {
        ::unsetenv("TMPDIR");
        if (isolated)
            testing::leaveIsolation(folder.path(), folder.path("volume"));
    }

    std::unique_ptr<testing::ChildProcess> startInstaller()
    {
        return std::make_unique<testing::ChildProcess>(std::vector<std::string> { folder.path("volume/" + installerInBundle) },
            std::map<std::string, std::string> {
                { "DISPLAY", display->name() },
                { "HOME", home },
                { "XDG_RUNTIME_DIR", folder.path("runtime") },
                { "QUILLMARK_INSTALLER_RECORDING", folder.path("states") },
            });
    }

    // Waits until the window has shown a state whose description holds `wanted`.
    bool windowShows(const std::string& wanted, std::chrono::seconds limit = 60s)
    {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            if (readText(folder.path("states/states.txt")).find(wanted) != std::string::npos)
                return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    void press(const std::string& key)
    {
        auto pressed = testing::runCommand({ xdotool, "key", "--clearmodifiers", key });
        ASSERT_EQ(pressed.exitStatus, 0) << pressed.errors;
    }

    testing::TemporaryFolder folder;
    std::unique_ptr<testing::VirtualDisplay> display;
    std::string xdotool;
    std::string home;
    bool isolated = false;
};

TEST_P(InstallerEndToEndTest, UpdatesTheOlderCopyThroughTheWindow)
{
    auto installer = startInstaller();
    ASSERT_TRUE(windowShows("primary=Update Quillmark (enabled)")) << readText(folder.path("states/states.txt"));
    press("Return");

    const std::string root = home + "/Applications";
    if (GetParam().interruption == Interruption::sigtermDuringCommit) {
        std::optional<fs::path> backup;
        auto deadline = std::chrono::steady_clock::now() + 60s;
        while (!(backup = backupBeingCommitted(root)) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        ASSERT_TRUE(backup) << "the commit never moved the old copy aside";
        installer->signal(SIGTERM);
        // Only a signal that arrived while the old copy was still set aside
        // tests the commit.
        ASSERT_TRUE(fs::exists(*backup)) << "the commit ended before the signal; nothing was tested";

        // The installer finishes the commit and then leaves by itself.
        EXPECT_EQ(installer->waitForExit(60s), 0) << readText(folder.path("states/states.txt"));
        EXPECT_EQ(readText(folder.path("states/states.txt")).find("Installation cancelled"), std::string::npos);
    } else {
        ASSERT_TRUE(windowShows("primary=Open Quillmark (enabled)")) << readText(folder.path("states/states.txt"));
        press("Escape");
        EXPECT_EQ(installer->waitForExit(30s), 0);
    }

    // The new copy is in place, complete and sealed, and nothing was left behind.
    InstallerEngine engine({ platform::FileURL(root, true) });
    auto installed = engine.verifiedPayload(platform::FileURL(root + "/Quillmark.app", true));
    EXPECT_EQ(installed.releaseVersion, QUILLMARK_RELEASE_VERSION);
    EXPECT_EQ(installed.build, QUILLMARK_BUILD);
    EXPECT_EQ(fs::file_size(root + "/Quillmark.app/Contents/Resources/Pages.bin"), largeResourceBytes);
    for (const auto& entry : fs::directory_iterator(root))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".Quillmark-install-")) << entry.path();
}

INSTANTIATE_TEST_SUITE_P(Interruptions, InstallerEndToEndTest,
    ::testing::Values(EndToEndCase { "Undisturbed", Interruption::none },
        EndToEndCase { "SigtermDuringCommit", Interruption::sigtermDuringCommit }),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quillmark
