// Installations killed with SIGKILL at every file operation in turn. Whatever
// the moment, the user keeps an application: the previous copy or the
// complete new one at the destination, or the previous copy whole inside the
// staging folder, which the next start reports and can put back; the lock is
// free again; and the next installation works and leaves no staging folder
// behind but one that holds a previous copy the person has not yet decided on.

#include "tests/support/bundle_builder.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/lock_probe.hpp"
#include "tests/support/sealing.hpp"
#include "tests/support/temporary_folder.hpp"
#include "tests/support/tree_snapshot.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <unistd.h>
#include <iostream>
#include <map>

namespace quillmark {
namespace {

namespace fs = std::filesystem;
using Snapshot = std::map<std::string, testing::ItemSnapshot>;

struct ProcessOutcome {
    bool killed = false;
    std::string outcome;
    int operations = 0;
};

ProcessOutcome runInstaller(const std::string& payload, const std::string& root, const std::vector<std::string>& extra = {})
{
    std::vector<std::string> arguments { QUILLMARK_INSTALL_PROCESS, payload, root };
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    auto result = testing::runCommand(arguments);
    ProcessOutcome outcome;
    outcome.killed = result.exitStatus == -1;
    std::istringstream lines(result.output);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("outcome: "))
            outcome.outcome = line.substr(9);
        else if (line.starts_with("operations: "))
            outcome.operations = std::stoi(line.substr(12));
    }
    if (!outcome.killed && outcome.outcome.empty())
        ADD_FAILURE() << "the installer process printed nothing; its errors: " << result.errors;
    return outcome;
}

struct KeptOutcome {
    std::vector<std::string> kept;
    std::string outcome;
};

KeptOutcome runKept(const std::string& payload, const std::string& root, const std::string& action)
{
    auto result = testing::runCommand({ QUILLMARK_INSTALL_PROCESS, payload, root, "--kept", action });
    KeptOutcome outcome;
    std::istringstream lines(result.output);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("kept: "))
            outcome.kept.push_back(line.substr(6));
        else if (line.starts_with("outcome: "))
            outcome.outcome = line.substr(9);
    }
    if (outcome.outcome.empty())
        ADD_FAILURE() << "the process printed nothing; its errors: " << result.errors;
    return outcome;
}

void writeSealedViewer(const std::string& path, const std::string& build)
{
    auto version = build == "230" ? std::string("2.3") : std::string("2.4");
    testing::sealBundle(testing::BundleBuilder().version(version).build(build).releaseVersion(version + ".0").write(path));
}

std::vector<std::string> stagingFolders(const std::string& root)
{
    std::vector<std::string> paths;
    for (const auto& entry : fs::directory_iterator(root)) {
        if (entry.path().filename().string().starts_with(".Quillmark-install-"))
            paths.push_back(entry.path().string());
    }
    return paths;
}

// Where the user's application is after a kill.
enum class Found { previousInPlace, newInPlace, previousInStaging, nothingInstalled, lost };

const char* describe(Found found)
{
    switch (found) {
    case Found::previousInPlace:
        return "previous copy in place";
    case Found::newInPlace:
        return "new copy in place";
    case Found::previousInStaging:
        return "previous copy whole in the staging folder";
    case Found::nothingInstalled:
        return "nothing installed, as before";
    case Found::lost:
        return "LOST";
    }
    return "?";
}

Found whatIsLeft(const std::string& root, const Snapshot& payload, const std::optional<Snapshot>& previous)
{
    const std::string destination = root + "/Quillmark.app";
    if (fs::exists(fs::symlink_status(destination))) {
        auto now = testing::snapshotTree(destination);
        if (now == payload)
            return Found::newInPlace;
        if (previous && now == *previous)
            return Found::previousInPlace;
        return Found::lost;
    }
    if (!previous)
        return Found::nothingInstalled;
    for (const auto& staging : stagingFolders(root)) {
        auto backup = staging + "/Previous Quillmark.app";
        if (fs::exists(fs::symlink_status(backup)) && testing::snapshotTree(backup) == *previous)
            return Found::previousInStaging;
    }
    return Found::lost;
}

class CrashSafetyTest : public ::testing::TestWithParam<bool> {
protected:
    bool update() const { return GetParam(); }

    // A root as it was before the installation: empty, or holding build 230.
    std::string freshRoot(const std::string& name) const
    {
        auto root = folder.path(name);
        testing::makeFolder(root);
        if (update())
            writeSealedViewer(root + "/Quillmark.app", "230");
        return root;
    }

    // What a killed installation must leave: a whole application, a free
    // lock, and a root that the next installation can use. A previous copy
    // left whole in a staging folder is what the next start reports, with
    // the offer that fits: put it back where nothing is installed, or remove
    // it where a copy is. A later success keeps it until the person chooses.
    static void expectRecoverable(const std::string& root, const std::string& payload, const Snapshot& payloadSnapshot,
        const std::optional<Snapshot>& previous, std::map<std::string, int>& tally)
    {
        auto found = whatIsLeft(root, payloadSnapshot, previous);
        EXPECT_NE(found, Found::lost);
        ++tally[describe(found)];
        // Before the lock file is made there is no lock to find free.
        const auto lock = root + "/.Quillmark.install.lock";
        if (fs::exists(lock)) {
            EXPECT_TRUE(testing::anotherProcessCanLock(lock)) << "the lock is free";
        }

        bool keptWhole = previous && previousWholeInStaging(root, *previous);
        bool destinationEmpty = !fs::exists(fs::symlink_status(root + "/Quillmark.app"));
        auto reported = runKept(payload, root, "list");
        if (!keptWhole) {
            EXPECT_TRUE(reported.kept.empty()) << "reported: " << reported.kept.front();
        } else {
            EXPECT_EQ(reported.kept, std::vector<std::string> { destinationEmpty ? "230 empty" : "230 installed" });
        }
        if (keptWhole && destinationEmpty) {
            ++tally["previous copy put back"];
            EXPECT_EQ(runKept(payload, root, "restore").outcome, "done");
            EXPECT_EQ(testing::snapshotTree(root + "/Quillmark.app"), *previous);
            EXPECT_TRUE(stagingFolders(root).empty());
            keptWhole = false;
        }

        auto again = runInstaller(payload, root);
        EXPECT_EQ(again.outcome, "installed");
        EXPECT_EQ(testing::snapshotTree(root + "/Quillmark.app"), payloadSnapshot);
        if (keptWhole) {
            ++tally["previous copy kept past a success, then removed"];
            EXPECT_TRUE(previousWholeInStaging(root, *previous)) << "the kept copy survives the next success";
            auto removal = runKept(payload, root, "remove");
            EXPECT_EQ(removal.kept, std::vector<std::string> { "230 installed" });
            EXPECT_EQ(removal.outcome, "done");
        }
        // Every other staging folder, as big as the application, goes with
        // the next successful installation.
        auto left = stagingFolders(root);
        EXPECT_TRUE(left.empty()) << "left behind: " << left.front();
        if (!left.empty())
            ++tally["staging folder left after the next installation"];
    }

    static bool previousWholeInStaging(const std::string& root, const Snapshot& previous)
    {
        for (const auto& staging : stagingFolders(root)) {
            auto backup = staging + "/Previous Quillmark.app";
            if (fs::exists(fs::symlink_status(backup)) && testing::snapshotTree(backup) == previous)
                return true;
        }
        return false;
    }

    testing::TemporaryFolder folder;
};

TEST_P(CrashSafetyTest, EveryKillPointLeavesAWholeApplicationAndAFreeLock)
{
    const auto payload = folder.path("Volume/Quillmark.app");
    writeSealedViewer(payload, "241");
    const auto payloadSnapshot = testing::snapshotTree(payload);

    // One undisturbed run counts the file operations there are to kill at.
    auto counted = runInstaller(payload, freshRoot("counted"));
    ASSERT_EQ(counted.outcome, "installed");
    ASSERT_GT(counted.operations, 0);

    std::vector<std::vector<std::string>> killPoints;
    for (int n = 1; n <= counted.operations; ++n)
        killPoints.push_back({ "--kill-before", std::to_string(n) });
    killPoints.push_back({ "--kill-after", std::to_string(counted.operations) });

    std::map<std::string, int> tally;
    for (std::size_t i = 0; i < killPoints.size(); ++i) {
        const auto& point = killPoints[i];
        SCOPED_TRACE(point[0] + " " + point[1]);
        auto root = freshRoot("root-" + std::to_string(i));
        std::optional<Snapshot> previous;
        if (update())
            previous = testing::snapshotTree(root + "/Quillmark.app");

        auto killed = runInstaller(payload, root, point);
        EXPECT_TRUE(killed.killed) << "the process ended with: " << killed.outcome;

        expectRecoverable(root, payload, payloadSnapshot, previous, tally);
    }

    std::cout << (update() ? "Update" : "New installation") << ": " << killPoints.size() << " kill points over "
              << counted.operations << " file operations:";
    for (const auto& [what, count] : tally)
        std::cout << " " << what << " " << count << ";";
    std::cout << "\n";
}

// The system calls that change the disk during an installation.
const std::vector<std::string> changingCalls { "mkdir", "mkdirat", "copy_file_range", "fchmod", "utimensat",
    "fsetxattr", "symlink", "symlinkat", "sync_file_range", "fsync", "syncfs", "rename", "renameat", "renameat2",
    "unlink", "unlinkat", "rmdir" };

std::string joined(const std::vector<std::string>& names)
{
    std::string text;
    for (const auto& name : names)
        text += (text.empty() ? "" : ",") + name;
    return text;
}

// Finer than the file operations: strace kills the installer on entry to the
// n-th call of each system call that changes the disk, in the middle of a
// copy, a sync or a removal.
TEST_P(CrashSafetyTest, EverySystemCallThatChangesTheDiskIsAKillPoint)
{
    const auto strace = testing::programPath("strace");
    if (strace.empty())
        GTEST_SKIP() << "strace is not installed, so the installer cannot be stopped at its system calls.";
    // Under AddressSanitizer the leak check at exit needs ptrace, which strace holds.
    if (const char* options = std::getenv("ASAN_OPTIONS"))
        ::setenv("ASAN_OPTIONS", (std::string(options) + ":detect_leaks=0").c_str(), 1);

    const auto payload = folder.path("Volume/Quillmark.app");
    writeSealedViewer(payload, "241");
    const auto payloadSnapshot = testing::snapshotTree(payload);

    const auto counts = folder.path("counts");
    auto counted = testing::runCommand({ strace, "-f", "-c", "-o", counts, "-e", "trace=" + joined(changingCalls),
        QUILLMARK_INSTALL_PROCESS, payload, freshRoot("counted") });
    ASSERT_NE(counted.output.find("outcome: installed"), std::string::npos) << counted.output << counted.errors;
    std::map<std::string, int> calls;
    std::istringstream table(testing::readFile(counts));
    for (std::string line; std::getline(table, line);) {
        std::istringstream words(line);
        std::vector<std::string> columns { std::istream_iterator<std::string>(words), std::istream_iterator<std::string>() };
        if (columns.size() >= 5 && std::find(changingCalls.begin(), changingCalls.end(), columns.back()) != changingCalls.end())
            calls[columns.back()] = std::stoi(columns[3]);
    }
    ASSERT_FALSE(calls.empty()) << testing::readFile(counts);

    int points = 0;
    int killed = 0;
    std::map<std::string, int> tally;
    for (const auto& [call, count] : calls) {
        for (int n = 1; n <= count; ++n, ++points) {
            SCOPED_TRACE(call + " #" + std::to_string(n));
            auto root = freshRoot("root-" + std::to_string(points));
            std::optional<Snapshot> previous;
            if (update())
                previous = testing::snapshotTree(root + "/Quillmark.app");

            auto run = testing::runCommand({ strace, "-f", "-qq", "-o", "/dev/null", "-e", "trace=" + call, "-e",
                "inject=" + call + ":signal=KILL:when=" + std::to_string(n), QUILLMARK_INSTALL_PROCESS, payload, root });
            killed += run.output.find("outcome: ") == std::string::npos;

            expectRecoverable(root, payload, payloadSnapshot, previous, tally);
        }
    }
    EXPECT_GT(killed, 0);
    std::cout << (update() ? "Update" : "New installation") << ": " << points << " system-call kill points ("
              << killed << " killed):";
    for (const auto& [what, count] : tally)
        std::cout << " " << what << " " << count << ";";
    std::cout << "\n";
}

// The record of a killed installation ends at the last step it took, with
// no outcome; the next installation's lines follow under a tag of their own.
TEST(InstallationRecordAfterAKillTest, EndsAtTheLastStepTakenAndTheNextOneFollows)
{
    testing::TemporaryFolder folder;
    const auto payload = folder.path("Volume/Quillmark.app");
    writeSealedViewer(payload, "241");
    const auto root = folder.path("Applications");
    testing::makeFolder(root);
    writeSealedViewer(root + "/Quillmark.app", "230");
    const auto record = folder.path("state/installations.log");
    writeSealedViewer(folder.path("Counted/Quillmark.app"), "230");
    auto counted = runInstaller(payload, folder.path("Counted"), {});
    ASSERT_EQ(counted.outcome, "installed");

    // Near the end: the copies have moved, the previous one is being removed.
    auto killed = runInstaller(payload, root, { "--kill-before", std::to_string(counted.operations - 2), "--record", record });
    ASSERT_TRUE(killed.killed);
    auto again = runInstaller(payload, root, { "--record", record });
    ASSERT_EQ(again.outcome, "installed");

    std::vector<std::vector<std::string>> installations;
    std::string lastTag;
    std::istringstream lines(testing::readFile(record));
    for (std::string line; std::getline(lines, line);) {
        // "date time UTC  TAG  +s.sss s  step"
        ASSERT_GT(line.size(), 40u) << line;
        auto tag = line.substr(line.find("UTC  ") + 5, 8);
        if (tag != lastTag)
            installations.emplace_back();
        lastTag = tag;
        installations.back().push_back(line.substr(line.find(" s  ") + 4));
    }
    ASSERT_EQ(installations.size(), 2u);
    const auto& cut = installations[0];
    EXPECT_TRUE(cut.front().starts_with("installation of Quillmark 2.4.0 (build 241)")) << cut.front();
    EXPECT_TRUE(std::any_of(cut.begin(), cut.end(), [](const auto& step) { return step.starts_with("new copy moved to "); }));
    for (const auto& step : cut) {
        EXPECT_FALSE(step.starts_with("succeeded") || step.starts_with("failed")) << step;
    }
    EXPECT_TRUE(installations[1].back().starts_with("succeeded: Quillmark 2.4.0 (build 241) at " + root + "/Quillmark.app"))
        << installations[1].back();
}

INSTANTIATE_TEST_SUITE_P(BothKinds, CrashSafetyTest, ::testing::Values(true, false),
    [](const auto& info) { return info.param ? std::string("Update") : std::string("NewInstallation"); });

} // namespace
} // namespace quillmark
