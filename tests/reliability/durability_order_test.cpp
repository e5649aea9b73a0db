// The order in which an update makes its work durable, read from the system
// calls of a real installer process (strace): the staged copy's data and
// names are on the disk before the installed copy is moved aside, and both
// renames are on the disk before the previous copy is removed.

#include "tests/support/bundle_builder.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/sealing.hpp"
#include "tests/support/temporary_folder.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace quillmark {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view stagingPrefix = ".Quillmark-install-";

void writeSealedViewer(const std::string& path, const std::string& build)
{
    auto version = build == "230" ? std::string("2.3") : std::string("2.4");
    testing::sealBundle(testing::BundleBuilder().version(version).build(build).releaseVersion(version + ".0").write(path));
}

bool succeeded(const std::string& line)
{
    return line.ends_with(" = 0");
}

// The index of the first line at or after `from` that satisfies `wanted`, or -1.
long find(const std::vector<std::string>& lines, std::size_t from, const std::function<bool(const std::string&)>& wanted)
{
    for (std::size_t i = from; i < lines.size(); ++i) {
        if (wanted(lines[i]))
            return static_cast<long>(i);
    }
    return -1;
}

// A successful call of `call` on the item at exactly `path` (strace -y shows
// the path of the descriptor).
std::function<bool(const std::string&)> syncOf(const std::string& call, const std::string& path)
{
    return [call, path](const std::string& line) {
        auto at = line.find(call + "(");
        return at != std::string::npos && line.find("<" + path + ">)", at) != std::string::npos && succeeded(line);
    };
}

std::function<bool(const std::string&)> fsyncOf(const std::string& path)
{
    return syncOf("fsync", path);
}

TEST(DurabilityOrderTest, UpdateSyncsStagedDataBeforeTheSwapAndTheSwapBeforeRemovingTheBackup)
{
    const auto strace = testing::programPath("strace");
    if (strace.empty())
        GTEST_SKIP() << "strace is not installed, so the system calls cannot be traced.";

    testing::TemporaryFolder folder;
    const auto payload = folder.path("Volume/Quillmark.app");
    const auto root = folder.path("Applications");
    writeSealedViewer(payload, "241");
    writeSealedViewer(root + "/Quillmark.app", "230");
    const auto trace = folder.path("install.trace");

    // Under AddressSanitizer the leak check at exit needs ptrace, which
    // strace holds. The other tests that run install_process check it for leaks.
    if (const char* options = std::getenv("ASAN_OPTIONS"))
        ::setenv("ASAN_OPTIONS", (std::string(options) + ":detect_leaks=0").c_str(), 1);

    auto run = testing::runCommand({ strace, "-f", "-qq", "-y", "-o", trace, "-e",
        "trace=utimensat,fsync,fdatasync,sync_file_range,syncfs,rename,renameat,renameat2,unlink,unlinkat,rmdir",
        QUILLMARK_INSTALL_PROCESS, payload, root });
    ASSERT_EQ(run.exitStatus, 0) << run.output << run.errors;
    ASSERT_NE(run.output.find("outcome: installed"), std::string::npos) << run.output;

    std::vector<std::string> lines;
    std::ifstream traced(trace);
    for (std::string line; std::getline(traced, line);)
        lines.push_back(line);

    auto isRename = [](const std::string& line) { return line.find("rename") != std::string::npos && succeeded(line); };
    long moveAside = find(lines, 0, isRename);
    ASSERT_GE(moveAside, 0) << "no rename was traced";
    ASSERT_NE(lines[moveAside].find("Previous Quillmark.app"), std::string::npos) << lines[moveAside];
    long moveIn = find(lines, moveAside + 1, isRename);
    ASSERT_GE(moveIn, 0) << "only one rename was traced";

    // The staging folder's name, from the first rename's target.
    auto at = lines[moveAside].find(std::string(stagingPrefix));
    ASSERT_NE(at, std::string::npos);
    const auto staging = root + "/" + lines[moveAside].substr(at, stagingPrefix.size() + 36);
    const auto stagedCopy = staging + "/Quillmark.app";

    // Before the first rename: the whole volume that holds the staged copy
    // (every file and folder of it), then the staging folder and the root.
    // The copy gives every item its times last, the top folder after all it holds.
    auto isTimesSet = [](const std::string& line) { return line.find("utimensat(") != std::string::npos; };
    long lastCopied = -1;
    for (long at = 0; (at = find(lines, static_cast<std::size_t>(at), isTimesSet)) >= 0; ++at)
        lastCopied = at;
    ASSERT_GE(lastCopied, 0) << "the copy was not traced";
    long stagedCopySynced = find(lines, lastCopied + 1, syncOf("syncfs", stagedCopy));
    EXPECT_TRUE(stagedCopySynced >= 0 && stagedCopySynced < moveAside)
        << "the staged copy's volume is synced after the copy and before the swap";
    long stagingSynced = find(lines, 0, fsyncOf(staging));
    long rootSynced = find(lines, 0, fsyncOf(root));
    EXPECT_TRUE(stagingSynced >= 0 && stagingSynced < moveAside) << "the staging folder is synced before the swap";
    EXPECT_TRUE(rootSynced >= 0 && rootSynced < moveAside) << "the root is synced before the swap";

    // After both renames and before the first removal inside the backup: the
    // root (which now names the new copy) and the staging folder (which now
    // names the backup).
    long removal = find(lines, moveIn + 1, [](const std::string& line) {
        return line.find("unlink") != std::string::npos && line.find("Previous Quillmark.app") != std::string::npos;
    });
    ASSERT_GE(removal, 0) << "the backup is never removed";
    long rootAfter = find(lines, moveIn + 1, fsyncOf(root));
    long stagingAfter = find(lines, moveIn + 1, fsyncOf(staging));
    EXPECT_TRUE(rootAfter > moveIn && rootAfter < removal) << "the root is synced between the swap and the removal";
    EXPECT_TRUE(stagingAfter > moveIn && stagingAfter < removal)
        << "the staging folder is synced between the swap and the removal";
}

} // namespace
} // namespace quillmark
