// Several installer processes released at the same moment at one root. Each
// installs, or is turned away by the lock, or (when it takes the lock after
// another has finished, so the root no longer holds what it reviewed) asks
// the user to review the destination again. Afterwards no staging folder is
// left, the lock is free and the destination holds a verified copy.

#include "engine/installer_engine.hpp"
#include "tests/support/bundle_builder.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/lock_probe.hpp"
#include "tests/support/sealing.hpp"
#include "tests/support/temporary_folder.hpp"
#include "tests/support/tree_snapshot.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <iostream>
#include <map>

namespace quillmark {
namespace {

namespace fs = std::filesystem;

constexpr int processesPerRound = 4;
constexpr int roundsPerStart = 5;

constexpr const char* installed = "installed";
constexpr const char* lockedOut = "Another Quillmark installer is using this location. Wait for it to finish.";
constexpr const char* reviewAgain = "The installed version changed. Review the destination again before continuing.";

void writeSealedViewer(const std::string& path, const std::string& build)
{
    auto version = build == "230" ? std::string("2.3") : std::string("2.4");
    testing::sealBundle(testing::BundleBuilder().version(version).build(build).releaseVersion(version + ".0").write(path));
}

std::string outcomeLine(const testing::CommandResult& result)
{
    auto at = result.output.find("outcome: ");
    if (at == std::string::npos)
        return "no outcome; errors: " + result.errors;
    auto end = result.output.find('\n', at);
    return result.output.substr(at + 9, end == std::string::npos ? std::string::npos : end - at - 9);
}

struct Start {
    const char* name;
    const char* installedBuild; // what the root holds before the race, or nullptr
    std::vector<std::string> allowed;
};

TEST(InstallerRacesTest, ConcurrentInstallersLeaveOneVerifiedCopy)
{
    const Start starts[] = {
        // Everyone reviewed the copy they are about to install again, so a
        // late one finds what it reviewed and reinstalls.
        { "reinstall", "241", { installed, lockedOut } },
        { "update", "230", { installed, lockedOut, reviewAgain } },
        { "new installation", nullptr, { installed, lockedOut, reviewAgain } },
    };
    testing::TemporaryFolder folder;
    const auto payload = folder.path("Volume/Quillmark.app");
    writeSealedViewer(payload, "241");
    const auto payloadSnapshot = testing::snapshotTree(payload);

    std::map<std::string, int> tally;
    int processes = 0;
    int round = 0;
    for (const auto& start : starts) {
        for (int r = 0; r < roundsPerStart; ++r, ++round) {
            SCOPED_TRACE(std::string(start.name) + ", round " + std::to_string(r + 1));
            const auto root = folder.path("root-" + std::to_string(round));
            testing::makeFolder(root);
            if (start.installedBuild)
                writeSealedViewer(root + "/Quillmark.app", start.installedBuild);
            const auto go = folder.path("go-" + std::to_string(round));

            std::vector<std::future<testing::CommandResult>> racers;
            for (int p = 0; p < processesPerRound; ++p) {
                racers.push_back(std::async(std::launch::async, [&] {
                    return testing::runCommand({ QUILLMARK_INSTALL_PROCESS, payload, root, "--start-when-exists", go });
                }));
            }
            testing::writeFile(go, "");

            int installs = 0;
            for (auto& racer : racers) {
                auto outcome = outcomeLine(racer.get());
                ++processes;
                ++tally[outcome];
                installs += outcome == installed;
                EXPECT_NE(std::find(start.allowed.begin(), start.allowed.end(), outcome), start.allowed.end()) << outcome;
            }
            EXPECT_GE(installs, 1);

            for (const auto& entry : fs::directory_iterator(root))
                EXPECT_FALSE(entry.path().filename().string().starts_with(".Quillmark-install-")) << entry.path();
            EXPECT_TRUE(testing::anotherProcessCanLock(root + "/.Quillmark.install.lock"));
            EXPECT_EQ(testing::snapshotTree(root + "/Quillmark.app"), payloadSnapshot);
            InstallerEngine engine { { platform::FileURL(root, true) } };
            EXPECT_NO_THROW(engine.verifiedPayload(platform::FileURL(root + "/Quillmark.app", true)));
        }
    }
    std::cout << "Races: " << processes << " installer processes in " << round << " rounds:";
    for (const auto& [outcome, count] : tally)
        std::cout << " \"" << outcome << "\" " << count << ";";
    std::cout << "\n";
}

} // namespace
} // namespace quillmark
