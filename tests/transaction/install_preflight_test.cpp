#include "tests/transaction/install_fixture.hpp"

#include "platform/error.hpp"
#include "tests/support/sealing.hpp"
#include "tests/support/temporary_folder.hpp"

#include <chrono>
#include <filesystem>
#include <thread>

namespace quillmark::testing {
namespace {

namespace fs = std::filesystem;

enum class Expect { cancellation, installerFailure, platformError, integrityFailure };
enum class LockFile { notCreated, leftFree };

// One way the preparation can end before anything installed is touched.
struct PreflightCase {
    std::string name;
    bool update; // a previous copy is installed before the user reviews
    // Changes made after the review (directly, or by arming the file
    // manager and the callbacks to act at the exact moment).
    std::function<void(InstallFixture&, InstallerLocation&)> arrange;
    Expect expect;
    std::function<std::string(InstallFixture&)> text; // the error's text, when it is known exactly
    LockFile lockFile = LockFile::leftFree;
    bool installedCopyUntouched = true;
    std::function<void(InstallFixture&)> alsoCheck = nullptr;
    Volume volume = Volume::ownFolder;
    int rounds = 1;
};

void PrintTo(const PreflightCase& row, std::ostream* stream)
{
    *stream << row.name;
}

std::function<std::string(InstallFixture&)> says(std::string_view text)
{
    return [text = std::string(text)](InstallFixture&) { return text; };
}

std::function<std::string(InstallFixture&)> injected(int number, std::function<std::string(InstallFixture&)> path)
{
    return [number, path](InstallFixture& t) { return injectedError(number, path(t)).description(); };
}

std::string at(InstallFixture& t, const std::string& relative)
{
    return t.folder.path(relative);
}

void replaceWithLink(const std::string& path, const std::string& movedTo)
{
    fs::rename(path, movedTo);
    makeLink(movedTo, path);
}

const PreflightCase preflightCases[] = {
    { "CancelledOnEntry", false,
        [](auto& t, auto&) {
            fs::remove(t.root.path());
            t.cancelOnCall = 1;
        },
        Expect::cancellation, nullptr, LockFile::notCreated, true,
        [](auto& t) { EXPECT_FALSE(fs::exists(t.root.path())) << "nothing is created, not even the root"; } },
    { "RootIsNotAnEngineRoot", false,
        [](auto& t, auto& location) {
            makeFolder(at(t, "Other"));
            location.root = platform::FileURL(at(t, "Other"), true);
        },
        Expect::installerFailure, says("This installation location is not safe to replace."), LockFile::notCreated },
    { "ConflictRecorded", false, [](auto&, auto& location) { location.conflict = "Something is wrong here."; },
        Expect::installerFailure, says("This installation location is not safe to replace."), LockFile::notCreated },
    { "RootIsALink", false, [](auto& t, auto&) { replaceWithLink(t.root.path(), at(t, "RealApplications")); },
        Expect::installerFailure, says("This installation location is not safe to replace."), LockFile::notCreated },
    { "ApplicationIsALink", false,
        [](auto& t, auto&) {
            t.writeBundle(at(t, "Elsewhere/Quillmark.app"));
            makeLink(at(t, "Elsewhere/Quillmark.app"), t.destination.path());
        },
        Expect::installerFailure, says("This installation location is not safe to replace."), LockFile::notCreated },
    { "PayloadFailsVerification", true, [](auto& t, auto&) { t.tamperWith(t.payload.url); },
        Expect::integrityFailure, nullptr, LockFile::notCreated },
    { "PayloadCarriesAnotherBuild", true,
        [](auto& t, auto&) {
            fs::remove_all(t.payload.url.path());
            t.writeBundle(t.payload.url.path(), "242");
        },
        Expect::installerFailure, says("The installer payload changed. Open the installer again."), LockFile::notCreated },
    { "RootCannotBeCreated", false,
        [](auto& t, auto&) {
            fs::remove(t.root.path());
            t.files->fail(FileOperation::createDirectory, pathIs(t.root.path()), EACCES);
        },
        Expect::platformError, injected(EACCES, [](auto& t) { return t.root.path(); }), LockFile::notCreated },
    { "RootBecomesALinkWhenCreated", false,
        [](auto& t, auto&) {
            t.files->after(FileOperation::createDirectory, pathIs(t.root.path()),
                [&t] { replaceWithLink(t.root.path(), at(t, "RealApplications")); });
        },
        Expect::installerFailure,
        says("The destination contains a symbolic-link path. Choose a normal Applications folder."),
        LockFile::notCreated },
    { "LockFileIsALink", true,
        [](auto& t, auto&) { makeLink(at(t, "lock-target"), t.root.path() + "/.Quillmark.install.lock"); },
        Expect::platformError,
        [](auto& t) {
            return platform::posixError(ELOOP, "open the lock file", t.root.path() + "/.Quillmark.install.lock")
                .description();
        },
        LockFile::notCreated, true,
        [](auto& t) { EXPECT_FALSE(fs::exists(at(t, "lock-target"))) << "the link was followed"; } },
    { "LockHeldByAnotherProcess", true,
        [](auto& t, auto&) {
            t.lockHolder = std::make_unique<LockHoldingProcess>(t.root.path() + "/.Quillmark.install.lock");
        },
        Expect::installerFailure, says("Another Quillmark installer is using this location. Wait for it to finish.") },
    { "InstalledIdentityUnreadable", true,
        [](auto& t, auto&) { t.files->fail(FileOperation::holdItem, pathIs(t.destination.path()), EIO); },
        Expect::platformError, injected(EIO, [](auto& t) { return t.destination.path(); }) },
    { "InstalledMetadataUnreadable", true,
        [](auto& t, auto&) { writeFile(t.destination.path() + "/Contents/Info.plist", "<plist><dict><key>"); },
        Expect::platformError,
        [](auto& t) {
            try {
                t.engine->metadata(t.destination);
            } catch (const std::exception& error) {
                return std::string(error.what());
            }
            return std::string("(metadata did not fail)");
        },
        LockFile::leftFree, false },
    { "CopyAppearedWhereNoneWasReviewed", false, [](auto& t, auto&) { t.installPrevious(); },
        Expect::installerFailure,
        says("The installed version changed. Review the destination again before continuing.") },
    { "InstalledCopyIsAnotherBuild", true, [](auto&, auto& location) { location.existing->build = "229"; },
        Expect::installerFailure,
        says("The installed version changed. Review the destination again before continuing.") },
    { "InstalledCopyRemovedAfterReview", true, [](auto& t, auto&) { fs::remove_all(t.destination.path()); },
        Expect::installerFailure,
        says("The previous application was removed. Review the destination again before continuing."),
        LockFile::leftFree, false },
    { "StagingFolderCannotBeCreated", true,
        [](auto& t, auto&) {
            t.files->fail(FileOperation::createDirectory,
                [](const std::string& path) { return path.find("/.Quillmark-install-") != std::string::npos; }, ENOSPC);
        },
        Expect::platformError, nullptr },
    { "CopyFails", true,
        [](auto& t, auto&) { t.files->fail(FileOperation::copyItem, pathIs(t.payload.url.path()), EIO); },
        Expect::platformError, injected(EIO, [](auto& t) { return t.payload.url.path(); }) },
    { "StagedCopyFailsVerification", true,
        [](auto& t, auto&) {
            t.files->after(FileOperation::copyItem, pathIs(t.payload.url.path()),
                [&t] { t.tamperWith(platform::FileURL(t.root.path() + "/" + t.stagingFolders().at(0) + "/Quillmark.app")); });
        },
        Expect::integrityFailure, nullptr },
    // The staged files are hashed while the copy goes on. One altered after
    // it was hashed, and before the copy ends, is still caught though its
    // size and times are unchanged. (The pauses make sure that the file is
    // hashed, and its digest kept, a clock tick after it was written.)
    { "StagedFileAlteredAfterItWasHashedKeepingItsSizeAndTimes", true,
        [](auto& t, auto&) {
            t.files->before(FileOperation::fileCopied, pathEndsWith("/Contents/Resources/About.txt"),
                [] { std::this_thread::sleep_for(std::chrono::milliseconds(50)); });
            t.files->after(FileOperation::copyItem, pathIs(t.payload.url.path()), [&t] {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                t.alterKeepingSizeAndTimes(
                    platform::FileURL(t.root.path() + "/" + t.stagingFolders().at(0) + "/Quillmark.app"));
            });
        },
        Expect::integrityFailure,
        says("The application failed its integrity check: The file \u201CContents/Resources/About.txt\u201D was "
             "changed after the application was sealed. Download a fresh installer.") },
    { "StagedIdentityUnreadable", true,
        [](auto& t, auto&) { t.files->fail(FileOperation::holdItem, inStaging("Quillmark.app"), EIO); },
        Expect::platformError, nullptr },
    { "StagedCopyCannotBeMadeDurable", true,
        [](auto& t, auto&) { t.files->fail(FileOperation::synchronize, inStaging("Quillmark.app"), EIO); },
        Expect::platformError, nullptr },
    { "StagedCopyIsAnotherBuild", true,
        [](auto& t, auto&) {
            t.files->after(FileOperation::copyItem, pathIs(t.payload.url.path()), [&t] {
                auto staged = t.root.path() + "/" + t.stagingFolders().at(0) + "/Quillmark.app";
                fs::remove_all(staged);
                t.writeBundle(staged, "242");
            });
        },
        Expect::installerFailure, says("The staged application version does not match the installer.") },
    { "CancelledAfterStaging", true, [](auto& t, auto&) { t.cancelOnCall = 2; }, Expect::cancellation, nullptr },
    { "ApplicationRunning", true,
        [](auto& t, auto&) {
            t.onEnsureNotRunning = [](int) { throw InstallerFailure("Quillmark is running from the destination."); };
        },
        Expect::installerFailure, says("Quillmark is running from the destination.") },
    { "DestinationBecameALink", false,
        [](auto& t, auto&) {
            t.onEnsureNotRunning = [&t](int) {
                t.writeBundle(t.folder.path("Elsewhere/Quillmark.app"));
                makeLink(t.folder.path("Elsewhere/Quillmark.app"), t.destination.path());
            };
        },
        Expect::installerFailure, says("The destination changed while preparing the installation.") },
    { "RootBecameALink", true,
        [](auto& t, auto&) {
            t.onEnsureNotRunning = [&t](int) { replaceWithLink(t.root.path(), t.folder.path("MovedApplications")); };
        },
        Expect::installerFailure, says("The destination changed while preparing the installation."),
        LockFile::leftFree, true,
        [](auto& t) { EXPECT_EQ(InstallFixture::identityOf(t.folder.path("MovedApplications/Quillmark.app")), t.previousIdentity); } },
    { "ApplicationAppeared", false,
        [](auto& t, auto&) { t.onEnsureNotRunning = [&t](int) { t.installPrevious(); }; }, Expect::installerFailure,
        says("An application appeared at the destination. Review the location and try again."), LockFile::leftFree,
        false },
    { "InstalledCopyGone", true,
        [](auto& t, auto&) { t.onEnsureNotRunning = [&t](int) { fs::remove_all(t.destination.path()); }; },
        Expect::installerFailure, says("The installed application changed. Review the location and try again."),
        LockFile::leftFree, false },
    { "InstalledCopyReplacedBySameVersion", true,
        [](auto& t, auto&) {
            t.onEnsureNotRunning = [&t](int) {
                fs::rename(t.destination.path(), t.folder.path("Old.app"));
                t.writeBundle(t.destination.path(), "230");
            };
        },
        Expect::installerFailure, says("The installed application changed. Review the location and try again."),
        LockFile::leftFree, false },
    { "DestinationIdentityUnreadable", true,
        [](auto& t, auto&) {
            t.onEnsureNotRunning = [&t](int) {
                t.files->fail(FileOperation::holdItem, pathIs(t.destination.path()), EIO);
            };
        },
        Expect::platformError, injected(EIO, [](auto& t) { return t.destination.path(); }) },
};

// Another program deletes an item for good and at once puts its own in its
// place. Each of these rows runs on a new ext4 volume, which hands a freed
// inode number to the next item at once, and on a tmpfs, which never does.
const PreflightCase deleteAndRecreateCases[] = {
    { "InstalledCopyDeletedAndAFolderMadeInItsPlace", true,
        [](auto& t, auto&) {
            t.onEnsureNotRunning = [&t](int) {
                t.deleteAndRecreate(t.destination.path(), [&t] { t.makeForeignFolder(t.destination.path()); });
            };
        },
        Expect::installerFailure, says("The installed application changed. Review the location and try again."),
        LockFile::leftFree, false,
        [](auto& t) { EXPECT_TRUE(t.foreignFolderIsAt(t.destination.path())) << "the other program's folder was touched"; } },
    { "InstalledCopyDeletedAndTheSameVersionPutInItsPlace", true,
        [](auto& t, auto&) {
            t.onEnsureNotRunning = [&t](int) {
                t.deleteAndRecreate(t.destination.path(), [&t] {
                    t.writeBundle(t.destination.path(), "230");
                    t.foreignIdentity = InstallFixture::identityOf(t.destination.path());
                });
            };
        },
        Expect::installerFailure, says("The installed application changed. Review the location and try again."),
        LockFile::leftFree, false,
        [](auto& t) {
            EXPECT_EQ(InstallFixture::identityOf(t.destination.path()), t.foreignIdentity) << "the other copy was touched";
            EXPECT_EQ(t.buildAt(t.destination.path()), "230");
        } },
};

class PreflightTest : public InstallFixture, public ::testing::WithParamInterface<PreflightCase> {
protected:
    void runOnce(const PreflightCase& row);
};

void PreflightTest::runOnce(const PreflightCase& row)
{
    if (row.update)
        installPrevious();
    auto location = reviewedLocation();
    row.arrange(*this, location);

    install(location);

    ASSERT_FALSE(result) << "the installation succeeded";
    ASSERT_TRUE(error);
    try {
        std::rethrow_exception(error);
    } catch (const CancellationError&) {
        EXPECT_EQ(row.expect, Expect::cancellation);
    } catch (const InstallerFailure& failure) {
        if (row.expect == Expect::integrityFailure) {
            EXPECT_TRUE(failure.message().starts_with("The application failed its integrity check: ")) << failure.message();
        } else {
            EXPECT_EQ(row.expect, Expect::installerFailure) << failure.message();
        }
    } catch (const platform::Error& platformError) {
        EXPECT_EQ(row.expect, Expect::platformError) << platformError.description();
    }
    if (row.text) {
        EXPECT_EQ(errorText(), row.text(*this));
    }

    EXPECT_TRUE(stagingFolders().empty()) << "a staging folder stayed";
    lockHolder.reset();
    if (row.lockFile == LockFile::notCreated) {
        EXPECT_FALSE(fs::is_regular_file(fs::symlink_status(root.path() + "/.Quillmark.install.lock")));
    } else {
        expectLockFileFree();
    }
    if (row.update && row.installedCopyUntouched) {
        EXPECT_EQ(identityOf(destination.path()), previousIdentity);
        EXPECT_EQ(buildAt(destination.path()), "230");
    }
    if (row.alsoCheck)
        row.alsoCheck(*this);
}

TEST_P(PreflightTest, EndsWithItsErrorAndLeavesTheInstalledCopyAlone)
{
    const auto& row = GetParam();
    std::string whyNot;
    if (!runRounds(row.volume, row.rounds, [&] { runOnce(row); }, whyNot))
        GTEST_SKIP() << whyNot;
}

INSTANTIATE_TEST_SUITE_P(EveryCheck, PreflightTest, ::testing::ValuesIn(withDeleteAndRecreateRows(preflightCases, deleteAndRecreateCases)),
    [](const auto& info) { return info.param.name; });

} // namespace
} // namespace quillmark::testing
