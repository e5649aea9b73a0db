#include "tests/controller/installer_harness.hpp"

#include "platform/desktop/quit_request.hpp"
#include "platform/desktop/system_workspace.hpp"
#include "tests/support/bundle_builder.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/running_child.hpp"
#include "tests/support/temporary_folder.hpp"

namespace quillmark::testing {
namespace {

TEST(RunningCopiesTest, CountsOnlyLiveViewersRunningFromTheBundle)
{
    InstallerHarness harness;
    auto target = systemRoot.appendingDirectory("Quillmark.app");
    auto first = harness.desktop.addRunningApplication("app.quillmark.viewer", target);
    harness.desktop.addRunningApplication("app.quillmark.viewer", std::nullopt);
    harness.desktop.addRunningApplication(std::nullopt, target);
    harness.desktop.addRunningApplication("app.quillmark.viewer.helper", target);
    harness.desktop.addRunningApplication("App.Quillmark.Viewer", target);
    harness.desktop.addRunningApplication("app.quillmark.viewer", userRoot.appendingDirectory("Quillmark.app"));
    harness.desktop.addRunningApplication("app.quillmark.viewer", payloadBundle);
    harness.desktop.addRunningApplication("app.quillmark.viewer", target)->terminated = true;
    auto second = harness.desktop.addRunningApplication("app.quillmark.viewer",
        platform::FileURL("/Applications/./Other/../Quillmark.app", true));

    auto found = harness.installer->running(target);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0], first);
    EXPECT_EQ(found[1], second) << "in the order the desktop lists them";
}

// A real copy of the viewer, run from a bundle under a temporary root.
class RunningCopyProcessTest : public ::testing::Test {
protected:
    RunningCopyProcessTest()
        : installer(InstallerEnvironment {
            .controls = desktop,
            .desktop = desktop,
            .workspace = workspace,
            .queues = desktop,
            .ownBundle = installerInformation(),
            .makeEngine = [] { return std::shared_ptr<const InstallerBackend>(); },
            .volumeIsReadOnly = [](const platform::FileURL&) { return true; },
            .registerInstalled = {},
        })
    {
        makeFolder(folder.path("system"));
        makeFolder(folder.path("user"));
        makeLink(folder.path("system"), folder.path("linked"));
    }

    platform::FileURL bundleIn(const std::string& root, const char* script)
    {
        return BundleBuilder().executable(script).write(folder.path(root + "/Quillmark.app"));
    }

    platform::FileURL application(const std::string& root) { return platform::FileURL(folder.path(root), true).appendingDirectory("Quillmark.app"); }

    TemporaryFolder folder;
    FakeDesktop desktop;
    platform::SystemWorkspace workspace;
    QuillmarkInstaller installer;
};

constexpr const char* quitsOnRequest = "#!/bin/sh\ntrap 'exit 0' TERM\nread line\n";
constexpr const char* declinesToQuit = "#!/bin/sh\ntrap '' TERM\nread line\n";

TEST_F(RunningCopyProcessTest, IsFoundAtItsRootAndThroughALinkButNotAtTheOtherRoot)
{
    bundleIn("system", quitsOnRequest);
    bundleIn("user", quitsOnRequest);
    for (const char* startedFrom : { "system", "linked" }) {
        SCOPED_TRACE(std::string("started from ") + startedFrom);
        RunningChild copy({ folder.path(std::string(startedFrom) + "/Quillmark.app/Contents/MacOS/Quillmark") });
        ASSERT_TRUE(eventually([&] { return installer.running(application("system")).size() == 1; }));
        EXPECT_EQ(installer.running(application("linked")).size(), 1u);
        EXPECT_TRUE(installer.running(application("user")).empty());
    }
}

TEST_F(RunningCopyProcessTest, GoesAfterItsQuitRequest)
{
    bundleIn("system", quitsOnRequest);
    RunningChild copy({ folder.path("system/Quillmark.app/Contents/MacOS/Quillmark") });
    ASSERT_TRUE(eventually([&] { return installer.running(application("system")).size() == 1; }));
    installer.running(application("system")).front()->requestQuit();
    EXPECT_TRUE(eventually([&] { return installer.running(application("system")).empty(); }));
    EXPECT_EQ(copy.state(), 'Z') << "it ended on its own, after SIGTERM";
}

// Either way the copy stays, and the wait runs to its deadline.
TEST_F(RunningCopyProcessTest, ACopyThatDoesNotQuitIsStillListed)
{
    struct Case {
        const char* name;
        std::string program;
    };
    for (const auto& row : { Case { "it ignores SIGTERM", declinesToQuit },
             // SIGTERM would end it at once, and it has no window to ask.
             Case { "it would die of SIGTERM and has no window", readFile("/bin/sleep") } }) {
        SCOPED_TRACE(row.name);
        TemporaryFolder place;
        auto bundle = BundleBuilder().executable(row.program).write(place.path("Quillmark.app"));
        RunningChild copy({ bundle.path() + "/Contents/MacOS/Quillmark", "30" });
        ASSERT_TRUE(eventually([&] { return installer.running(bundle).size() == 1; }));
        installer.running(bundle).front()->requestQuit();
        EXPECT_FALSE(eventually([&] { return installer.running(bundle).empty(); }, std::chrono::milliseconds(300)));
        EXPECT_TRUE(copy.state() == 'S' || copy.state() == 'R') << "state " << copy.state();
    }
}

TEST_F(RunningCopyProcessTest, AZombieIsNotCounted)
{
    bundleIn("system", "#!/bin/sh\nread line\n");
    RunningChild copy({ folder.path("system/Quillmark.app/Contents/MacOS/Quillmark") });
    ASSERT_TRUE(eventually([&] { return installer.running(application("system")).size() == 1; }));
    auto listed = installer.running(application("system")).front();
    copy.closeInput();
    ASSERT_TRUE(eventually([&] { return copy.state() == 'Z'; }));
    EXPECT_TRUE(installer.running(application("system")).empty());
    EXPECT_TRUE(listed->isTerminated());
}

// The sample viewer itself, copied into a root and started headless.
class SampleViewerTest : public RunningCopyProcessTest {
protected:
    void SetUp() override
    {
        auto copied = runCommand({ "/bin/cp", "-a", QUILLMARK_SAMPLE_PAYLOAD_DIR, folder.path("system/Quillmark.app") });
        ASSERT_EQ(copied.exitStatus, 0) << copied.errors;
    }

    std::map<std::string, std::string> headless(bool declines) const
    {
        return { { "DISPLAY", "" }, { "WAYLAND_DISPLAY", "" }, { "QT_QPA_PLATFORM", "" },
            { "QUILLMARK_SAMPLE_DECLINE_QUIT", declines ? "1" : "" } };
    }
};

TEST_F(SampleViewerTest, IsFoundAtItsRootAndQuitsOnTheRequest)
{
    ChildProcess viewer({ folder.path("linked/Quillmark.app/Contents/MacOS/Quillmark") }, headless(false));
    ASSERT_TRUE(eventually([&] { return installer.running(application("system")).size() == 1; }));
    EXPECT_EQ(installer.running(application("linked")).size(), 1u);
    EXPECT_TRUE(installer.running(application("user")).empty());

    // A copy is listed from the moment its program is loaded, but it takes
    // the request only once it reads the signal; asked before that, it
    // declines, as any copy still starting does.
    ASSERT_TRUE(eventually([&] { return platform::handlesQuitSignal(viewer.pid()); }, std::chrono::seconds(30)));
    installer.running(application("system")).front()->requestQuit();
    EXPECT_EQ(viewer.waitForExit(std::chrono::seconds(10)), 0) << "it quits normally, with status 0";
    EXPECT_TRUE(installer.running(application("system")).empty());
}

TEST_F(SampleViewerTest, AViewerThatDeclinesStaysListed)
{
    ChildProcess viewer({ folder.path("system/Quillmark.app/Contents/MacOS/Quillmark") }, headless(true));
    ASSERT_TRUE(eventually([&] { return installer.running(application("system")).size() == 1; }));
    installer.running(application("system")).front()->requestQuit();
    EXPECT_EQ(viewer.waitForExit(std::chrono::milliseconds(500)), std::nullopt);
    EXPECT_EQ(installer.running(application("system")).size(), 1u);
}

} // namespace
} // namespace quillmark::testing
