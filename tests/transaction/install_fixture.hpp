#pragma once

#include "engine/installer_engine.hpp"
#include "tests/support/faulty_file_manager.hpp"
#include "tests/support/lock_probe.hpp"
#include "tests/support/scoped_mount.hpp"
#include "tests/support/shared_mapping.hpp"
#include "tests/support/temporary_folder.hpp"

#include <exception>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillmark::testing {

// Where the installation root lies: in the test's temporary folder, or on a
// volume of its own mounted there for the test (ext4 keeping times to the
// nanosecond, or, with inodes too small for more, in whole seconds).
enum class Volume { ownFolder, ext4, wholeSecondExt4, tmpfs };

const char* nameOf(Volume volume);

// How often an item that another program made in place of a deleted one took
// an inode number that the deletion had just freed.
struct InodeReuse {
    int rounds = 0;
    int deletedItemsNumber = 0; // the number of the deleted item itself
    int numberFreedWithIt = 0; // the number of something deleted with it
};

// Rounds of a case in which another program deletes an item and at once puts
// its own in its place: enough that ext4 is certain to have handed a freed
// inode number to the new item.
inline constexpr int deleteAndRecreateRounds = 12;

// The rows of a table, followed by each delete-and-recreate row once on a
// new ext4 volume and once on a tmpfs, for that many rounds.
template <typename Row, std::size_t count, std::size_t recreateCount>
std::vector<Row> withDeleteAndRecreateRows(const Row (&rows)[count], const Row (&deleteAndRecreate)[recreateCount])
{
    std::vector<Row> all(std::begin(rows), std::end(rows));
    for (auto volume : { Volume::ext4, Volume::tmpfs }) {
        for (auto row : deleteAndRecreate) {
            row.name += std::string("On") + nameOf(volume);
            row.volume = volume;
            row.rounds = deleteAndRecreateRounds;
            all.push_back(std::move(row));
        }
    }
    return all;
}

// A real installation root in a temporary folder, a sealed payload beside
// it, an engine whose file manager can be told to fail or to change the disk
// at a chosen call, and callbacks that record what the installation asked.
class InstallFixture : public ::testing::Test {
public:
    InstallFixture();

    // Puts the (still empty) root on a new volume of that kind. False, with
    // the reason in `whyNot`, when this process cannot mount one.
    bool placeRootOn(Volume volume, std::string& whyNot);
    // Back to the state right after construction, the root emptied, for
    // another round of the same case; `reuse` and the root's volume stay.
    void startOver();
    // Puts the root on `volume` and runs `once` for `rounds` rounds (fewer
    // after a failure), starting over between them; then checks what the
    // rounds tried (expectInodeReuseTried). False, with the reason in
    // `whyNot`, when the volume cannot be mounted.
    bool runRounds(Volume volume, int rounds, const std::function<void()>& once, std::string& whyNot);

    // Sealed viewer bundles; versions are the build's, release and version follow.
    platform::FileURL writeBundle(const std::string& path, const std::string& build = "241") const;
    // A sealed older copy (build 230) at the destination.
    void installPrevious();
    void tamperWith(const platform::FileURL& bundle) const;
    // Alters a sealed file of the bundle as a careful program would: its
    // size and its times stay what they were, only its bytes change.
    void alterKeepingSizeAndTimes(const platform::FileURL& bundle) const;
    // What another program does: deletes the item at `path` for good (never
    // renaming it, which would keep its inode alive) and at once runs
    // `replace` to put its own item there. Counts in `reuse` whether the new
    // item took a number that the deletion freed.
    void deleteAndRecreate(const std::string& path, const std::function<void()>& replace);
    // Another program's folder holding a data file, made at `path`; its
    // identity goes to `foreignIdentity`.
    void makeForeignFolder(const std::string& path);
    // Whether the folder of makeForeignFolder() is still at `path`, whole.
    bool foreignFolderIsAt(const std::string& path) const;
    // After the rounds of such a case: no new item ever took the number of
    // the item deleted (the installation holds what it recorded), and the
    // new item took a number freed with it at least once, without which the
    // case would prove nothing: a failure on ext4, which is made to hand
    // freed numbers out at once, a skip with the reason on other volumes
    // (tmpfs never hands one out again). Prints the counts.
    void expectInodeReuseTried(Volume volume) const;

    // The location as locations() reports it now: what the user reviewed.
    InstallerLocation reviewedLocation() const;

    // Runs the installation with `callbacks`; the outcome lands in `result` or `error`.
    void install(const InstallerLocation& location);
    void install() { install(reviewedLocation()); }

    // Names in the root that begin with the staging prefix.
    std::vector<std::string> stagingFolders() const;
    // The one staging folder that stayed (fails the test when there is not exactly one).
    std::string keptStaging() const;
    std::string backupPath() const { return keptStaging() + "/Previous Quillmark.app"; }
    // "device|inode" of the item itself, or "" when nothing is there.
    static std::string identityOf(const std::string& path);
    // The build of the bundle at `path`, or "" when it is not a valid viewer bundle.
    std::string buildAt(const std::string& path) const;

    void expectLockFileFree() const;

    // The text the user would read for the error that ended the installation.
    std::string errorText() const;

    TemporaryFolder folder;
    std::unique_ptr<ScopedMount> rootVolume;
    InodeReuse reuse;
    std::shared_ptr<FaultyFileManager> files = std::make_shared<FaultyFileManager>();
    platform::FileURL root;
    platform::FileURL destination;
    std::unique_ptr<InstallerEngine> engine;
    InstalledIdentity payload;

    // Callback behaviour and what they saw.
    int cancelOnCall = 0; // the n-th call of cancelled() answers true
    bool cancelRequested = false; // every later call answers true
    std::function<void(int call)> onEnsureNotRunning;
    std::vector<std::string> events;
    InstallCallbacks callbacks;
    std::unique_ptr<LockHoldingProcess> lockHolder;
    std::string previousIdentity;
    std::string foreignIdentity;

    // Another program's shared writable mapping of a file, when a case makes one.
    std::unique_ptr<SharedWritableMapping> mapping;

    std::optional<InstallerResult> result;
    std::exception_ptr error;
};

// A match for the call on the item `name` directly inside a staging folder.
FaultyFileManager::PathMatch inStaging(const std::string& name);

} // namespace quillmark::testing
