#include "engine/installer_engine.hpp"
#include "tests/support/child_process.hpp"

#include <gtest/gtest.h>

#include <csignal>

namespace quillmark {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;

const platform::FileURL sampleBundle(QUILLMARK_SAMPLE_PAYLOAD_DIR, true);
const std::string sampleExecutable = std::string(QUILLMARK_SAMPLE_PAYLOAD_DIR) + "/Contents/MacOS/Quillmark";

// No display at all: the viewer must still run, as a plain event loop.
const std::map<std::string, std::string> headless = { { "DISPLAY", "" }, { "WAYLAND_DISPLAY", "" }, { "QT_QPA_PLATFORM", "" } };

std::map<std::string, std::string> headlessWith(std::string name, std::string value)
{
    auto environment = headless;
    environment[std::move(name)] = std::move(value);
    return environment;
}

TEST(SamplePayloadTest, IsASealedViewerOfThisBuildsRelease)
{
    InstallerEngine engine({ sampleBundle.deletingLastComponent() });
    auto identity = engine.verifiedPayload(sampleBundle);
    EXPECT_EQ(identity.version, QUILLMARK_VERSION);
    EXPECT_EQ(identity.build, QUILLMARK_BUILD);
    EXPECT_EQ(identity.releaseVersion, QUILLMARK_RELEASE_VERSION);
}

TEST(SamplePayloadTest, QuitsNormallyOnSigtermWithOrWithoutAWindow)
{
    const std::pair<const char*, std::map<std::string, std::string>> cases[] = {
        { "no display", headless },
        { "a window on the offscreen platform", headlessWith("QT_QPA_PLATFORM", "offscreen") },
    };
    for (const auto& [name, environment] : cases) {
        SCOPED_TRACE(name);
        ChildProcess viewer({ sampleExecutable }, environment);
        EXPECT_EQ(viewer.waitForExit(300ms), std::nullopt) << "the viewer ended by itself";
        viewer.signal(SIGTERM);
        EXPECT_EQ(viewer.waitForExit(10s), 0);
    }
}

TEST(SamplePayloadTest, CanBeToldToDelayQuitting)
{
    ChildProcess viewer({ sampleExecutable }, headlessWith("QUILLMARK_SAMPLE_QUIT_DELAY", "1"));
    viewer.signal(SIGTERM);
    EXPECT_EQ(viewer.waitForExit(400ms), std::nullopt) << "quit without the delay";
    EXPECT_EQ(viewer.waitForExit(10s), 0);
}

TEST(SamplePayloadTest, CanBeToldToDeclineQuitting)
{
    ChildProcess viewer({ sampleExecutable }, headlessWith("QUILLMARK_SAMPLE_DECLINE_QUIT", "1"));
    EXPECT_EQ(viewer.waitForExit(200ms), std::nullopt);
    viewer.signal(SIGTERM);
    EXPECT_EQ(viewer.waitForExit(700ms), std::nullopt) << "quit although told to decline";
}

} // namespace
} // namespace quillmark
