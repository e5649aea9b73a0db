#include "tests/transaction/install_fixture.hpp"

#include "platform/error.hpp"
#include "tests/support/temporary_folder.hpp"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

namespace quillmark::testing {
namespace {

namespace fs = std::filesystem;

enum class Ending { result, warning, cancellation, failure, integrityFailure };
enum class AtDestination { newCopy, previousCopy, nothing, foreignItem, foreignFolder };
enum class Staging { removed, keptWithBackup, keptWithBackupAndStagedCopy, keptEmpty };

// One way out of the swap, with the state it must leave on disk.
struct CommitCase {
    std::string name;
    bool update;
    std::function<void(InstallFixture&)> arrange;
    Ending ending;
    // The error's or the warning's exact text, when known; computed after the run.
    std::function<std::string(InstallFixture&)> text;
    AtDestination destination;
    Staging staging;
    Volume volume = Volume::ownFolder;
    int rounds = 1;
};

void PrintTo(const CommitCase& row, std::ostream* stream)
{
    *stream << row.name;
}

std::string recoveryText(InstallFixture& t, const std::string& reason)
{
    return "The installation failed and automatic recovery could not finish. Your previous copy is retained at "
        + t.backupPath() + ". " + reason;
}

std::string newInstallRecoveryText(InstallFixture& t, const std::string& reason)
{
    return "The installation failed and automatic recovery could not finish. There was no previous copy to keep; "
           "check what remains at "
        + t.destination.path() + ". " + reason;
}

void failReplacementHook(InstallFixture& t)
{
    t.callbacks.afterReplace = [] { throw InstallerFailure("The replacement hook failed."); };
}

// Puts another program's item at the destination; the transaction must leave it alone.
void putForeignItem(InstallFixture& t)
{
    t.writeBundle(t.destination.path());
    t.foreignIdentity = InstallFixture::identityOf(t.destination.path());
}

const auto stagedCopy = inStaging("Quillmark.app");
const auto backup = inStaging("Previous Quillmark.app");

const CommitCase commitCases[] = {
    { "NewInstallation", false, [](auto&) {}, Ending::result, nullptr, AtDestination::newCopy, Staging::removed },
    { "Update", true, [](auto&) {}, Ending::result, nullptr, AtDestination::newCopy, Staging::removed },
    { "CancelAfterTheLastCheckIsIgnored", true,
        [](auto& t) { t.callbacks.beforeCommit = [&t] { t.cancelRequested = true; }; }, Ending::result, nullptr,
        AtDestination::newCopy, Staging::removed },
    { "BackupCannotBeRemoved", true, [](auto& t) { t.files->fail(FileOperation::removeItem, backup, EPERM); },
        Ending::warning,
        [](auto& t) {
            return "The update succeeded. A previous application copy remains at " + t.backupPath()
                + " because it could not be removed.";
        },
        AtDestination::newCopy, Staging::keptWithBackup },
    { "SwapCannotBeMadeDurable", true,
        [](auto& t) {
            // The first sync of the root makes the staging folder durable;
            // the second, after the swap, guards the removal of the backup.
            t.files->fail(FileOperation::synchronize, pathIs(t.root.path()), EIO, 2);
        },
        Ending::warning,
        [](auto& t) {
            return "The update succeeded. A previous application copy remains at " + t.backupPath()
                + " because it could not be removed.";
        },
        AtDestination::newCopy, Staging::keptWithBackup },
    { "NewInstallationSwapCannotBeMadeDurable", false,
        [](auto& t) { t.files->fail(FileOperation::synchronize, pathIs(t.root.path()), EIO, 2); }, Ending::result,
        nullptr, AtDestination::newCopy, Staging::removed },
    { "CancelledAtCommit", true, [](auto& t) { t.cancelOnCall = 3; }, Ending::cancellation, nullptr,
        AtDestination::previousCopy, Staging::removed },
    { "ApplicationStartedBeforeCommit", true,
        [](auto& t) {
            t.onEnsureNotRunning = [](int call) {
                if (call == 2)
                    throw InstallerFailure("Quillmark started from the destination.");
            };
        },
        Ending::failure, [](auto&) { return std::string("Quillmark started from the destination."); },
        AtDestination::previousCopy, Staging::removed },
    { "BeforeCommitHookFails", true,
        [](auto& t) { t.callbacks.beforeCommit = [] { throw InstallerFailure("The commit hook failed."); }; },
        Ending::failure, [](auto&) { return std::string("The commit hook failed."); }, AtDestination::previousCopy,
        Staging::removed },
    // Between the last look at the destination and the rename that moves
    // it aside, another program puts its own folder there: it goes back.
    { "InstalledCopyReplacedRightBeforeTheFirstMove", true,
        [](auto& t) {
            t.files->before(FileOperation::moveItem, pathIs(t.destination.path()), [&t] {
                fs::rename(t.destination.path(), t.folder.path("Elsewhere.app"));
                t.makeForeignFolder(t.destination.path());
            });
        },
        Ending::failure,
        [](auto&) { return std::string("The installed application changed. Review the location and try again."); },
        AtDestination::foreignFolder, Staging::removed },
    { "InstalledCopyCannotBeMovedAside", true,
        [](auto& t) { t.files->fail(FileOperation::moveItem, pathIs(t.destination.path()), EACCES); },
        Ending::failure, [](auto& t) { return injectedError(EACCES, t.destination.path()).description(); },
        AtDestination::previousCopy, Staging::removed },
    { "NewCopyCannotBeMovedInNothingInstalled", false,
        [](auto& t) { t.files->fail(FileOperation::moveItem, stagedCopy, EIO); }, Ending::failure, nullptr,
        AtDestination::nothing, Staging::removed },
    { "NewCopyCannotBeMovedInPreviousRestored", true,
        [](auto& t) { t.files->fail(FileOperation::moveItem, stagedCopy, EIO); }, Ending::failure, nullptr,
        AtDestination::previousCopy, Staging::removed },
    { "NewCopyFailsVerificationPreviousRestored", true,
        [](auto& t) { t.callbacks.afterReplace = [&t] { t.tamperWith(t.destination); }; }, Ending::integrityFailure,
        nullptr, AtDestination::previousCopy, Staging::removed },
    { "ReplacementHookFailsPreviousRestored", true, failReplacementHook, Ending::failure,
        [](auto&) { return std::string("The replacement hook failed."); }, AtDestination::previousCopy,
        Staging::removed },
    // The copy in place is checked with the digests made while it was
    // staged; a file altered since, even keeping its size and times, is
    // read again and caught.
    { "NewCopyAlteredInPlaceKeepingItsSizeAndTimesPreviousRestored", true,
        [](auto& t) {
            // A clock tick between the copy and the staged verification, so
            // that the digests it makes are kept for the copy in place.
            t.files->after(FileOperation::copyItem, pathIs(t.payload.url.path()),
                [] { std::this_thread::sleep_for(std::chrono::milliseconds(50)); });
            t.callbacks.afterReplace = [&t] { t.alterKeepingSizeAndTimes(t.destination); };
        },
        Ending::integrityFailure, nullptr, AtDestination::previousCopy, Staging::removed },
    { "NewCopyFailsVerificationNothingInstalled", false,
        [](auto& t) { t.callbacks.afterReplace = [&t] { t.tamperWith(t.destination); }; }, Ending::integrityFailure,
        nullptr, AtDestination::nothing, Staging::removed },
    { "UndoFindsNothingAtTheDestinationPreviousRestored", true,
        [](auto& t) { t.callbacks.afterReplace = [&t] { fs::remove_all(t.destination.path()); }; }, Ending::failure,
        [](auto&) { return std::string("The application is missing, is a link, or is not an application folder."); },
        AtDestination::previousCopy, Staging::removed },
    { "NewInstallationUndoFindsNothingAtTheDestination", false,
        [](auto& t) { t.callbacks.afterReplace = [&t] { fs::remove_all(t.destination.path()); }; }, Ending::failure,
        [](auto&) { return std::string("The application is missing, is a link, or is not an application folder."); },
        AtDestination::nothing, Staging::removed },
    { "MoveInAndRestoreBothFail", true,
        [](auto& t) {
            t.files->fail(FileOperation::moveItem, stagedCopy, EIO);
            t.files->fail(FileOperation::moveItem, backup, EIO);
        },
        Ending::failure,
        [](auto& t) { return recoveryText(t, injectedError(EIO, t.backupPath()).description()); },
        AtDestination::nothing, Staging::keptWithBackupAndStagedCopy },
    { "UndoCannotReadTheNewCopy", true,
        [](auto& t) {
            t.callbacks.afterReplace = [&t] {
                t.files->fail(FileOperation::holdItem, pathIs(t.destination.path()), EIO);
                throw InstallerFailure("The replacement hook failed.");
            };
        },
        Ending::failure,
        [](auto& t) { return recoveryText(t, injectedError(EIO, t.destination.path()).description()); },
        AtDestination::newCopy, Staging::keptWithBackup },
    { "UndoFindsAnotherObject", true,
        [](auto& t) {
            t.callbacks.afterReplace = [&t] {
                fs::rename(t.destination.path(), t.folder.path("Taken.app"));
                putForeignItem(t);
                throw InstallerFailure("The replacement hook failed.");
            };
        },
        Ending::failure,
        [](auto& t) { return recoveryText(t, "The new destination was changed by another process."); },
        AtDestination::foreignItem, Staging::keptWithBackup },
    { "UndoCannotRemoveTheNewCopy", true,
        [](auto& t) {
            failReplacementHook(t);
            t.files->fail(FileOperation::removeItem, pathIs(t.destination.path()), EPERM);
        },
        Ending::failure,
        [](auto& t) { return recoveryText(t, injectedError(EPERM, t.destination.path()).description()); },
        AtDestination::newCopy, Staging::keptWithBackup },
    { "RestoreFindsTheDestinationOccupied", true,
        [](auto& t) {
            failReplacementHook(t);
            t.files->after(FileOperation::removeItem, pathIs(t.destination.path()), [&t] { putForeignItem(t); });
        },
        Ending::failure,
        [](auto& t) {
            return recoveryText(t, "The destination was occupied before the previous copy could be restored.");
        },
        AtDestination::foreignItem, Staging::keptWithBackup },
    { "RestoreCannotMoveTheBackup", true,
        [](auto& t) {
            failReplacementHook(t);
            t.files->fail(FileOperation::moveItem, backup, EIO);
        },
        Ending::failure,
        [](auto& t) { return recoveryText(t, injectedError(EIO, t.backupPath()).description()); },
        AtDestination::nothing, Staging::keptWithBackup },
    { "NewInstallationUndoCannotReadTheNewCopy", false,
        [](auto& t) {
            t.callbacks.afterReplace = [&t] {
                t.files->fail(FileOperation::holdItem, pathIs(t.destination.path()), EIO);
                throw InstallerFailure("The replacement hook failed.");
            };
        },
        Ending::failure,
        [](auto& t) { return newInstallRecoveryText(t, injectedError(EIO, t.destination.path()).description()); },
        AtDestination::newCopy, Staging::keptEmpty },
    { "NewInstallationUndoFindsAnotherObject", false,
        [](auto& t) {
            t.callbacks.afterReplace = [&t] {
                fs::rename(t.destination.path(), t.folder.path("Taken.app"));
                putForeignItem(t);
                throw InstallerFailure("The replacement hook failed.");
            };
        },
        Ending::failure,
        [](auto& t) { return newInstallRecoveryText(t, "The new destination was changed by another process."); },
        AtDestination::foreignItem, Staging::keptEmpty },
    { "NewInstallationUndoCannotRemoveTheNewCopy", false,
        [](auto& t) {
            failReplacementHook(t);
            t.files->fail(FileOperation::removeItem, pathIs(t.destination.path()), EPERM);
        },
        Ending::failure,
        [](auto& t) { return newInstallRecoveryText(t, injectedError(EPERM, t.destination.path()).description()); },
        AtDestination::newCopy, Staging::keptEmpty },
};

// Another program deletes an item for good and at once puts its own in its
// place. Each of these rows runs on a new ext4 volume, which hands a freed
// inode number to the next item at once, and on a tmpfs, which never does.
void replaceWithForeignFolder(InstallFixture& t)
{
    t.deleteAndRecreate(t.destination.path(), [&t] { t.makeForeignFolder(t.destination.path()); });
}

const CommitCase deleteAndRecreateCases[] = {
    { "NewCopyDeletedAndAFolderMadeInItsPlace", true,
        [](auto& t) { t.callbacks.afterReplace = [&t] { replaceWithForeignFolder(t); }; }, Ending::failure,
        [](auto& t) { return recoveryText(t, "The new destination was changed by another process."); },
        AtDestination::foreignFolder, Staging::keptWithBackup },
    { "NewInstallationNewCopyDeletedAndAFolderMadeInItsPlace", false,
        [](auto& t) { t.callbacks.afterReplace = [&t] { replaceWithForeignFolder(t); }; }, Ending::failure,
        [](auto& t) { return newInstallRecoveryText(t, "The new destination was changed by another process."); },
        AtDestination::foreignFolder, Staging::keptEmpty },
    { "InstalledCopyDeletedAndAFolderMadeInItsPlaceRightBeforeTheFirstMove", true,
        [](auto& t) {
            t.files->before(FileOperation::moveItem, pathIs(t.destination.path()), [&t] { replaceWithForeignFolder(t); });
        },
        Ending::failure,
        [](auto&) { return std::string("The installed application changed. Review the location and try again."); },
        AtDestination::foreignFolder, Staging::removed },
    { "InstalledCopyDeletedAndAFolderMadeInItsPlaceAtTheLastRunningCheck", true,
        [](auto& t) {
            t.onEnsureNotRunning = [&t](int call) {
                if (call == 2)
                    replaceWithForeignFolder(t);
            };
        },
        Ending::failure,
        [](auto&) { return std::string("The installed application changed. Review the location and try again."); },
        AtDestination::foreignFolder, Staging::removed },
};

// A file of the new copy altered where its times cannot show it: while it
// is staged (after the staged verification) or once it is in place, by
// writing it and putting its times back, or through a shared writable
// mapping that another program made before the file was first hashed. On
// every kind of volume the copy in place is read in full and the previous
// copy comes back.
std::vector<CommitCase> alteredNewCopyCases()
{
    enum class When { stagedAfterItsVerification, inPlace };
    enum class How { writtenKeepingSizeAndTimes, throughAMappingMadeBeforeTheHash };
    std::vector<CommitCase> rows;
    for (auto volume : { Volume::ext4, Volume::wholeSecondExt4, Volume::tmpfs }) {
        for (auto when : { When::stagedAfterItsVerification, When::inPlace }) {
            for (auto how : { How::writtenKeepingSizeAndTimes, How::throughAMappingMadeBeforeTheHash }) {
                std::string name = std::string(when == When::inPlace ? "NewCopyAlteredInPlace" : "StagedCopyAlteredAfterItsVerification")
                    + (how == How::writtenKeepingSizeAndTimes ? "KeepingItsSizeAndTimes" : "ThroughAMapping") + "On"
                    + nameOf(volume);
                auto arrange = [when, how](InstallFixture& t) {
                    if (how == How::throughAMappingMadeBeforeTheHash) {
                        t.files->before(FileOperation::fileCopied, pathEndsWith("/Contents/Resources/About.txt"),
                            [&t] {
                                t.mapping = std::make_unique<SharedWritableMapping>(
                                    t.root.path() + "/" + t.stagingFolders().at(0)
                                    + "/Quillmark.app/Contents/Resources/About.txt");
                            });
                    }
                    auto alter = [&t, when, how] {
                        auto copy = when == When::inPlace
                            ? t.destination
                            : platform::FileURL(t.root.path() + "/" + t.stagingFolders().at(0) + "/Quillmark.app", true);
                        if (how == How::throughAMappingMadeBeforeTheHash)
                            t.mapping->alterFirstByte();
                        else
                            t.alterKeepingSizeAndTimes(copy);
                    };
                    if (when == When::inPlace)
                        t.callbacks.afterReplace = alter;
                    else
                        t.callbacks.beforeCommit = alter;
                };
                rows.push_back({ name, true, arrange, Ending::integrityFailure,
                    [](auto&) {
                        return std::string("The application failed its integrity check: The file "
                                           "\u201CContents/Resources/About.txt\u201D was changed after the "
                                           "application was sealed. Download a fresh installer.");
                    },
                    AtDestination::previousCopy, Staging::removed, volume });
            }
        }
    }
    return rows;
}

std::vector<CommitCase> allCommitCases()
{
    auto rows = withDeleteAndRecreateRows(commitCases, deleteAndRecreateCases);
    for (auto& row : alteredNewCopyCases())
        rows.push_back(std::move(row));
    return rows;
}

class CommitTest : public InstallFixture, public ::testing::WithParamInterface<CommitCase> {
protected:
    void runOnce(const CommitCase& row);
};

void CommitTest::runOnce(const CommitCase& row)
{
    if (row.update)
        installPrevious();
    auto location = reviewedLocation();
    row.arrange(*this);

    install(location);

    switch (row.ending) {
    case Ending::result:
    case Ending::warning:
        ASSERT_TRUE(result) << errorText();
        EXPECT_EQ(result->installed, destination);
        if (row.ending == Ending::result) {
            EXPECT_FALSE(result->warning) << result->warning.value_or("");
        } else if (row.text) {
            EXPECT_EQ(result->warning.value_or("(no warning)"), row.text(*this));
        }
        break;
    case Ending::cancellation:
        ASSERT_TRUE(error);
        EXPECT_THROW(std::rethrow_exception(error), CancellationError);
        break;
    case Ending::failure:
        ASSERT_TRUE(error) << "the installation succeeded";
        if (row.text) {
            EXPECT_EQ(errorText(), row.text(*this));
        }
        break;
    case Ending::integrityFailure:
        ASSERT_TRUE(error) << "the installation succeeded";
        EXPECT_THROW(std::rethrow_exception(error), InstallerFailure);
        EXPECT_TRUE(errorText().starts_with("The application failed its integrity check: ")) << errorText();
        if (row.text) {
            EXPECT_EQ(errorText(), row.text(*this));
        }
        break;
    }

    switch (row.destination) {
    case AtDestination::newCopy:
        EXPECT_EQ(buildAt(destination.path()), "241");
        EXPECT_NO_THROW(engine->verifiedPayload(destination));
        break;
    case AtDestination::previousCopy:
        EXPECT_EQ(identityOf(destination.path()), previousIdentity) << "the very same previous copy is back";
        EXPECT_EQ(buildAt(destination.path()), "230");
        break;
    case AtDestination::nothing:
        EXPECT_FALSE(fs::exists(fs::symlink_status(destination.path())));
        break;
    case AtDestination::foreignItem:
        EXPECT_EQ(identityOf(destination.path()), foreignIdentity) << "another program's item was touched";
        break;
    case AtDestination::foreignFolder:
        EXPECT_TRUE(foreignFolderIsAt(destination.path())) << "another program's folder was touched";
        break;
    }

    std::vector<std::string> kept;
    if (row.staging != Staging::removed) {
        for (const auto& entry : fs::directory_iterator(keptStaging()))
            kept.push_back(entry.path().filename().string());
        std::sort(kept.begin(), kept.end());
    }
    switch (row.staging) {
    case Staging::removed:
        EXPECT_TRUE(stagingFolders().empty());
        break;
    case Staging::keptWithBackup:
        EXPECT_EQ(kept, std::vector<std::string> { "Previous Quillmark.app" });
        EXPECT_EQ(identityOf(backupPath()), previousIdentity);
        EXPECT_EQ(buildAt(backupPath()), "230") << "the previous copy is whole";
        break;
    case Staging::keptWithBackupAndStagedCopy:
        EXPECT_EQ(kept, (std::vector<std::string> { "Previous Quillmark.app", "Quillmark.app" }));
        EXPECT_EQ(identityOf(backupPath()), previousIdentity);
        break;
    case Staging::keptEmpty:
        EXPECT_TRUE(kept.empty());
        break;
    }
    expectLockFileFree();
}

TEST_P(CommitTest, LeavesItsOutcomeOnDisk)
{
    const auto& row = GetParam();
    std::string whyNot;
    if (!runRounds(row.volume, row.rounds, [&] { runOnce(row); }, whyNot))
        GTEST_SKIP() << whyNot;
}

INSTANTIATE_TEST_SUITE_P(EveryWayOut, CommitTest, ::testing::ValuesIn(allCommitCases()),
    [](const auto& info) { return info.param.name; });

using InstallCallbackTest = InstallFixture;

TEST_F(InstallCallbackTest, CallsBackInOrder)
{
    installPrevious();
    callbacks.beforeCommit = [this] { events.push_back("beforeCommit"); };
    callbacks.afterReplace = [this] { events.push_back("afterReplace"); };

    install();

    ASSERT_TRUE(result) << errorText();
    EXPECT_EQ(events,
        (std::vector<std::string> { "cancelled", "phase copying", "cancelled", "ensureNotRunning", "phase committing",
            "cancelled", "ensureNotRunning", "beforeCommit", "afterReplace" }));
}

} // namespace
} // namespace quillmark::testing
