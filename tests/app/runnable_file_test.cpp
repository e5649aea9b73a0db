// The one file a person downloads: the real installer, started from the
// runnable file that make-disk-image writes beside the plain image, shows
// its window; however it ends, nothing of its mount is left.

#include "tests/app/base_set_sandbox.hpp"
#include "tests/app/installer_on_display.hpp"
#include "tests/support/scoped_mount.hpp"

#include "platform/desktop/window_close_request.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <thread>
#include <unistd.h>

namespace quillmark {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using testing::runCommand;

constexpr uid_t unprivilegedUser = 65534;

std::string mountsText()
{
    return testing::readFile("/proc/self/mounts");
}

enum class User { root, unprivileged };
enum class Ending { windowClosed, installerKilled, signalToTheFile };

struct RunnableCase {
    const char* name;
    User user;
    Ending ending;
    int status;
};

void PrintTo(const RunnableCase& way, std::ostream* out)
{
    *out << way.name;
}

class RunnableFileTest : public testing::InstallerOnDisplayTest, public ::testing::WithParamInterface<RunnableCase> {
protected:
    void SetUp() override
    {
        testing::InstallerOnDisplayTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        // The file's mount and a copy of /dev/fuse stay in this test's own
        // mount namespace.
        ASSERT_EQ(::unshare(CLONE_NEWNS), 0) << std::strerror(errno);
        ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0) << std::strerror(errno);
    }

    // The runnable file, written by make-disk-image beside the plain image.
    std::string makeRunnableFile()
    {
        makeDisk();
        auto made = runCommand({ "/bin/bash", QUILLMARK_MAKE_DISK_IMAGE, folder.path("Quillmark.squashfs"),
            folder.path("disk/Install Quillmark.app"), folder.path("disk/Quillmark.app"), QUILLMARK_IMAGE_RUNTIME });
        EXPECT_EQ(made.exitStatus, 0) << made.errors;
        struct utsname system;
        ::uname(&system);
        const auto file = folder.path(std::string("Install-Quillmark-" QUILLMARK_RELEASE_VERSION "-") + system.machine);
        EXPECT_EQ(made.output, folder.path("Quillmark.squashfs") + "\n" + file + "\n");
        return file;
    }

    // As on a desktop, where /dev/fuse is open to everyone and the user's
    // runtime folder and home are their own.
    void prepareUnprivilegedUser()
    {
        std::string whyNot;
        fuseCopy = testing::ScopedMount::fuseOpenToEveryone(folder.path("fuse"), whyNot);
        ASSERT_TRUE(fuseCopy) << whyNot;
        ::chmod(folder.path().c_str(), 0755);
        for (const auto& own : { folder.path("runtime"), home })
            ASSERT_EQ(::chown(own.c_str(), unprivilegedUser, unprivilegedUser), 0) << own;
    }

    void startRunnableFile(const std::string& file, User user)
    {
        std::vector<std::string> arguments = { file };
        if (user == User::unprivileged)
            arguments.insert(arguments.begin(),
                { testing::programPath("setpriv"), "--reuid=65534", "--regid=65534", "--clear-groups", "--" });
        installer = std::make_unique<testing::ChildProcess>(arguments, installerEnvironment());
    }

    // The installer's window, mapped on the display.
    bool windowMapped()
    {
        auto deadline = std::chrono::steady_clock::now() + 60s;
        while (std::chrono::steady_clock::now() < deadline) {
            auto found = runCommand({ xdotool, "search", "--onlyvisible", "--name", "^Install or Update Quillmark$" });
            if (found.exitStatus == 0 && !found.output.empty())
                return true;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    std::unique_ptr<testing::ScopedMount> fuseCopy;
};

TEST_P(RunnableFileTest, ShowsTheInstallersWindowAndLeavesNothingMounted)
{
    const auto file = makeRunnableFile();
    ASSERT_FALSE(HasFailure());
    if (GetParam().user == User::unprivileged) {
        ASSERT_NO_FATAL_FAILURE(prepareUnprivilegedUser());
    }
    startRunnableFile(file, GetParam().user);
    // The runtime's child, running the program from the mounted image.
    const pid_t started = testing::descendantRunning(installer->pid(), "QuillmarkInstaller", 60s);
    ASSERT_GT(started, 0) << "the runnable file started no installer";

    if (GetParam().user == User::root) {
        // Read over the accessibility bus, as a screen reader reads it.
        std::string whyNot;
        reader = windowreader::ApplicationReader::attach(started, 60s, whyNot);
        ASSERT_TRUE(reader) << whyNot;
        // The payload checked: from then on the installer is idle, and a
        // quit request ends it at once.
        waitFor("the payload checked", [](const windowreader::ApplicationSnapshot& window) {
            auto status = window.statusText();
            return status && !status->empty() && *status != "Checking the application on this disk\u2026";
        });
    }
    // The bus belongs to root, so the other user's window is seen on the
    // display alone.
    EXPECT_TRUE(windowMapped()) << "the installer's window never appeared";

    switch (GetParam().ending) {
    case Ending::windowClosed: // as a window manager's close button asks
        EXPECT_GT(platform::askWindowsToClose(started), 0) << "the installer's window takes no close request";
        break;
    case Ending::installerKilled:
        ::kill(started, SIGKILL);
        break;
    case Ending::signalToTheFile:
        installer->signal(SIGTERM);
        break;
    }
    EXPECT_EQ(installer->waitForExit(60s), GetParam().status);
    reader.reset();
    EXPECT_EQ(mountsText().find(folder.path("runtime")), std::string::npos) << mountsText();
    EXPECT_TRUE(fs::is_empty(folder.path("runtime"))) << "a folder was left in " << folder.path("runtime");
}

INSTANTIATE_TEST_SUITE_P(Ways, RunnableFileTest,
    ::testing::Values(RunnableCase { "RootWindowClosed", User::root, Ending::windowClosed, 0 },
        RunnableCase { "RootInstallerKilled", User::root, Ending::installerKilled, 128 + SIGKILL },
        RunnableCase { "UnprivilegedThroughFusermount3AskedToQuit", User::unprivileged, Ending::signalToTheFile, 0 }),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quillmark
