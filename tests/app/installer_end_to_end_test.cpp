// The real installer, started from a real read-only disk image, updates an
// older copy in a private home folder; the test reads its window over the
// accessibility bus and drives it with keys.

#include "tests/app/installer_on_display.hpp"

#include "engine/installer_engine.hpp"
#include "tests/support/temporary_folder.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>
#include <vector>

namespace quillmark {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using testing::ViewerCopy;
using windowreader::ApplicationSnapshot;

const ViewerCopy olderCopy { .version = "2.3.1", .build = "231", .releaseVersion = "2.3.1", .large = true };

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

bool offers(const ApplicationSnapshot& window, const std::string& button)
{
    return window.buttonEnabled(button) == true;
}

enum class Interruption { none, sigtermDuringCommit };

struct UpdateCase {
    const char* name;
    Interruption interruption;
};

class InstallerUpdateTest : public testing::InstallerOnDisplayTest,
                            public ::testing::WithParamInterface<UpdateCase> { };

TEST_P(InstallerUpdateTest, UpdatesTheOlderCopyThroughTheWindow)
{
    makeDisk({ .large = true });
    putCopy(olderCopy);
    ASSERT_TRUE(isolate());
    ASSERT_NO_FATAL_FAILURE(startInstaller());
    ASSERT_TRUE(reader);
    waitFor("Update Quillmark", [](const ApplicationSnapshot& window) { return offers(window, "Update Quillmark"); });
    const auto announcedBefore = reader->announcements().size();
    press("Return");

    const std::string root = userRoot();
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
        EXPECT_EQ(installer->waitForExit(60s), 0);
    } else {
        waitFor("Open Quillmark", [](const ApplicationSnapshot& window) { return offers(window, "Open Quillmark"); });
        // A screen reader hears each new status once, in order. It reads the
        // text from the window when it handles the announcement, which on a
        // busy machine may be after the next change: then it reads the later
        // text, never an earlier one, and still once per change.
        const std::vector<std::string> phases { "Copying and verifying Quillmark\u2026 You can cancel before replacement begins.",
            "Applying the verified application\u2026", testing::installerTexts::installedAt(userApplication()) };
        auto announced = reader->announcements();
        std::vector<std::string> heard(announced.begin() + static_cast<std::ptrdiff_t>(announcedBefore), announced.end());
        EXPECT_EQ(heard.size(), phases.size()) << ::testing::PrintToString(heard);
        std::size_t reached = 0;
        for (const auto& text : heard) {
            auto phase = std::find(phases.begin(), phases.end(), text);
            ASSERT_NE(phase, phases.end()) << "not a status of the update: " << text;
            EXPECT_GE(static_cast<std::size_t>(phase - phases.begin()), reached) << ::testing::PrintToString(heard);
            reached = static_cast<std::size_t>(phase - phases.begin());
        }
        if (!heard.empty()) {
            EXPECT_EQ(heard.front(), phases.front());
            EXPECT_EQ(heard.back(), phases.back());
        }
        press("Escape");
        EXPECT_EQ(installer->waitForExit(30s), 0);
    }

    // The new copy is in place, complete and sealed, and nothing was left behind.
    InstallerEngine engine({ platform::FileURL(root, true) });
    auto installed = engine.verifiedPayload(platform::FileURL(userApplication(), true));
    EXPECT_EQ(installed.releaseVersion, QUILLMARK_RELEASE_VERSION);
    EXPECT_EQ(installed.build, QUILLMARK_BUILD);
    EXPECT_EQ(fs::file_size(userApplication() + "/Contents/Resources/Pages.bin"), 64u << 20);
    for (const auto& entry : fs::directory_iterator(root))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".Quillmark-install-")) << entry.path();
    // What the person can show when they ask for help, in their own state folder.
    auto record = testing::readFile(home + "/.local/state/quillmark-installer/installations.log");
    EXPECT_NE(record.find("succeeded: Quillmark " + std::string(QUILLMARK_RELEASE_VERSION) + " (build "
                  + std::string(QUILLMARK_BUILD) + ") at "),
        std::string::npos)
        << record;
}

INSTANTIATE_TEST_SUITE_P(Interruptions, InstallerUpdateTest,
    ::testing::Values(UpdateCase { "Undisturbed", Interruption::none },
        UpdateCase { "SigtermDuringCommit", Interruption::sigtermDuringCommit }),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quillmark
