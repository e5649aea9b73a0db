// The shipped installer as a client of a Wayland compositor (Weston's
// headless backend) with no X display at all: it takes the Wayland platform
// from its own bundle and updates an older copy, pressed over the
// accessibility bus as a screen reader presses, since no keyboard tool
// reaches a Wayland client.

#include "tests/app/installer_on_display.hpp"

#include "engine/installer_engine.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

namespace quillmark {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using windowreader::ApplicationSnapshot;

const std::string socketName = "wayland-quillmark";

class InstallerOnWaylandTest : public testing::InstallerOnDisplayTest {
protected:
    void SetUp() override
    {
        InstallerOnDisplayTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        const auto weston = testing::programPath("weston");
        if (weston.empty())
            GTEST_SKIP() << "weston is not installed";
        compositor = std::make_unique<testing::ChildProcess>(
            std::vector<std::string> { weston, "--backend=headless-backend.so", "--socket=" + socketName,
                "--no-config", "--idle-time=0", "--log=" + folder.path("weston.log") },
            std::map<std::string, std::string> { { "XDG_RUNTIME_DIR", folder.path("runtime") }, { "DISPLAY", "" },
                { "WAYLAND_DISPLAY", "" } });
        const auto socket = folder.path("runtime/" + socketName);
        for (auto deadline = std::chrono::steady_clock::now() + 60s;
             !fs::exists(socket) && std::chrono::steady_clock::now() < deadline;)
            std::this_thread::sleep_for(20ms);
        ASSERT_TRUE(fs::exists(socket)) << "weston did not start";
    }

    void TearDown() override
    {
        reader.reset();
        installer.reset();
        compositor.reset();
        InstallerOnDisplayTest::TearDown();
    }

    void press(const std::string& button)
    {
        auto window = reader->snapshot();
        const auto* node = window.find("push button", button);
        ASSERT_NE(node, nullptr) << window.describe();
        ASSERT_TRUE(reader->perform(*node, "Press")) << button;
    }

    std::unique_ptr<testing::ChildProcess> compositor;
};

TEST_F(InstallerOnWaylandTest, UpdatesTheOlderCopyAsAWaylandClient)
{
    ASSERT_NO_FATAL_FAILURE(useShippedDisk());
    putCopy(testing::olderRelease);
    ASSERT_TRUE(isolate());
    auto environment = installerEnvironment();
    environment["DISPLAY"] = "";
    environment["WAYLAND_DISPLAY"] = socketName;
    environment["QT_QPA_PLATFORM"] = "wayland";
    ASSERT_NO_FATAL_FAILURE(startInstallerWith({}, environment));

    waitFor("Update Quillmark",
        [](const ApplicationSnapshot& window) { return window.buttonEnabled("Update Quillmark") == true; });
    // The platform came from the bundle, not from this machine's Qt.
    const auto maps = testing::readFile("/proc/" + std::to_string(installerPid) + "/maps");
    EXPECT_NE(maps.find("/Install Quillmark.app/Contents/PlugIns/platforms/libqwayland"), std::string::npos);
    EXPECT_EQ(maps.find("/qt6/plugins/"), std::string::npos);
    ASSERT_NO_FATAL_FAILURE(press("Update Quillmark"));
    waitFor("the update finished", [&](const ApplicationSnapshot& window) {
        return window.buttonEnabled("Open Quillmark") == true
            && window.statusText() == testing::installerTexts::installedAt(userApplication());
    });
    ASSERT_NO_FATAL_FAILURE(press("Done"));
    EXPECT_EQ(installer->waitForExit(30s), 0);

    InstallerEngine engine({ platform::FileURL(userRoot(), true) });
    auto installed = engine.verifiedPayload(platform::FileURL(userApplication(), true));
    EXPECT_EQ(installed.releaseVersion, QUILLMARK_RELEASE_VERSION);
    EXPECT_EQ(installed.build, QUILLMARK_BUILD);
}

} // namespace
} // namespace quillmark
