// The order in which an update makes its work durable, read from the system
// calls of a real installer process (strace): the staged copy's data and
// names are on the disk before the installed copy is moved aside, and both
// renames are on the disk before the previous copy is removed.

#include "tests/support/bundle_builder.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/sealing.hpp"
#include "tests/support/temporary_folder.hpp"
#include "tests/support/tree_snapshot.hpp"

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

// A successful fsync of the item at exactly `path` (strace -y shows the path of the descriptor).
std::function<bool(const std::string&)> fsyncOf(const std::string& path)
{
    return [path](const std::string& line) {
        auto at = line.find("fsync(");
        return at != std::string::npos && line.find("<" + path + ">)", at) != std::string::npos && succeeded(line);
    };
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
        "trace=fsync,fdatasync,sync_file_range,rename,renameat,renameat2,unlink,unlinkat,rmdir",
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

    // Before the first rename: every file and folder of the staged copy, then
    // the staging folder and the root.
    int syncedItems = 0;
    for (const auto& [relative, item] : testing::snapshotTree(payload)) {
        if (item.kind == 'l')
            continue; // a link's name lives in its folder, which is synced
        auto path = relative.empty() ? stagedCopy : stagedCopy + "/" + relative;
        long synced = find(lines, 0, fsyncOf(path));
        EXPECT_GE(synced, 0) << path << " is never synced";
        EXPECT_LT(synced, moveAside) << path << " is synced only after the installed copy was moved aside";
        ++syncedItems;
    }
    EXPECT_GT(syncedItems, 5);
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
