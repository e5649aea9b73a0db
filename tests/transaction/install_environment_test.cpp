#include "tests/transaction/install_fixture.hpp"

#include "platform/error.hpp"
#include "tests/support/bundle_builder.hpp"
#include "tests/support/scoped_mount.hpp"
#include "tests/support/sealing.hpp"
#include "tests/support/temporary_folder.hpp"
#include "tests/support/tree_snapshot.hpp"

#include <filesystem>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace quillmark::testing {
namespace {

namespace fs = std::filesystem;

using InstallEnvironmentTest = InstallFixture;

// Replaces the fixture's payload with a sealed bundle written at `path`
// and changed by `extend` before it is sealed.
void usePayload(InstallFixture& t, const std::string& path, const std::function<void(const std::string&)>& extend)
{
    auto bundle = BundleBuilder().version("2.4").build("241").releaseVersion("2.4.0").write(path);
    extend(path);
    sealBundle(bundle);
    t.payload = t.engine->verifiedPayload(bundle);
}

TEST_F(InstallEnvironmentTest, InstallsAnExactCopyThatStillVerifies)
{
    std::string odd = folder.path("Odd/Quillmark.app");
    usePayload(*this, odd, [](const std::string& bundle) {
        writeFile(bundle + "/Contents/Resources/Help/Pages/index.txt", "help", 0604);
        writeFile(bundle + "/Contents/Resources/readonly.dat", std::string(200000, 'r'), 0400);
        writeFile(bundle + "/Contents/Frameworks/Core.framework/Versions/A/Core", "core", 0750);
        makeLink("A", bundle + "/Contents/Frameworks/Core.framework/Versions/Current");
        makeLink("Versions/Current/Core", bundle + "/Contents/Frameworks/Core.framework/Core");
        makeLink("../Pages/index.txt", bundle + "/Contents/Resources/Help/Start/start.txt");
        ASSERT_EQ(::chmod((bundle + "/Contents/Resources/Help").c_str(), 0751), 0);
    });
    setExtendedAttribute(odd + "/Contents/MacOS/Quillmark", "user.origin", "disk image");
    setExtendedAttribute(odd + "/Contents/Resources", "user.note", std::string("\0\1\2", 3));
    setTimes(odd + "/Contents/Resources/readonly.dat", 1'400'000'000, 5);
    setTimes(odd + "/Contents/Frameworks/Core.framework/Core", 1'400'000'001, 6);
    auto expected = snapshotTree(odd);

    install();

    ASSERT_TRUE(result) << errorText();
    auto installed = snapshotTree(destination.path());
    ASSERT_EQ(installed.size(), expected.size());
    for (const auto& [relative, item] : expected)
        EXPECT_EQ(installed[relative], item) << "at \"" << relative << "\"";
    EXPECT_NO_THROW(engine->verifiedPayload(destination));
}

struct SeparationCase {
    const char* name;
    // Where the payload lies, and the root to install into, relative to the temporary folder.
    const char* payload;
    const char* root;
    bool refused;
    // Where the installer is given the payload, when not where it lies: a
    // link, relative to the temporary folder, to the folder that holds it.
    const char* reachedThrough = nullptr;
};

void PrintTo(const SeparationCase& row, std::ostream* stream)
{
    *stream << row.name;
}

class SeparationTest : public InstallFixture, public ::testing::WithParamInterface<SeparationCase> { };

TEST_P(SeparationTest, RefusesOnlyCopiesThatOverlap)
{
    const auto& row = GetParam();
    platform::FileURL otherRoot(folder.path(row.root), true);
    makeFolder(otherRoot.path());
    engine = std::make_unique<InstallerEngine>(std::vector { otherRoot }, files);
    usePayload(*this, folder.path(row.payload), [](const std::string&) {});
    if (row.reachedThrough != nullptr) {
        makeLink(fs::path(folder.path(row.payload)).parent_path(), folder.path(row.reachedThrough));
        payload = engine->verifiedPayload(platform::FileURL(folder.path(row.reachedThrough) + "/Quillmark.app", true));
    }
    auto location = engine->locations().at(0);
    // Whatever lies at the destination, the overlap is what must refuse.
    location.existing.reset();
    location.conflict.reset();

    install(location);

    if (row.refused) {
        EXPECT_EQ(errorText(), "The installer source and destination must be separate application copies.");
    } else {
        ASSERT_TRUE(result) << errorText();
        EXPECT_NO_THROW(engine->verifiedPayload(result->installed));
    }
}

INSTANTIATE_TEST_SUITE_P(Overlaps, SeparationTest,
    ::testing::Values(SeparationCase { "PayloadIsTheDestination", "Apps/Quillmark.app", "Apps", true },
        SeparationCase { "PayloadInsideTheDestination", "Apps/Quillmark.app/Contents/Inner/Quillmark.app", "Apps", true },
        SeparationCase { "DestinationInsideThePayload", "Outer/Quillmark.app", "Outer/Quillmark.app/Apps", true },
        SeparationCase { "SiblingWhoseNameStartsTheSame", "Apps/Quillmark.app copy/Quillmark.app", "Apps", false },
        SeparationCase { "PayloadIsTheDestinationReachedThroughALink", "Apps/Quillmark.app", "Apps", true,
            "Mounted" },
        SeparationCase { "PayloadInsideTheDestinationReachedThroughALink",
            "Apps/Quillmark.app/Contents/Inner/Quillmark.app", "Apps", true, "Mounted" },
        SeparationCase { "PayloadElsewhereReachedThroughALink", "Disk/Quillmark.app", "Apps", false,
            "Mounted" }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InstallEnvironmentTest, RootWithALinkOnItsPathIsRefused)
{
    makeFolder(folder.path("Real/Applications"));
    makeLink(folder.path("Real"), folder.path("Linked"));
    platform::FileURL linkedRoot(folder.path("Linked/Applications"), true);
    engine = std::make_unique<InstallerEngine>(std::vector { linkedRoot }, files);

    install(engine->locations().at(0));

    EXPECT_EQ(errorText(), "The destination contains a symbolic-link path. Choose a normal Applications folder.");
    EXPECT_FALSE(fs::exists(folder.path("Real/Applications/.Quillmark.install.lock")));
}

TEST_F(InstallEnvironmentTest, MissingRootIsCreatedWithItsParentsAndStays)
{
    platform::FileURL userRoot(folder.path("home/someone/Applications"), true);
    engine = std::make_unique<InstallerEngine>(std::vector { userRoot }, files);
    onEnsureNotRunning = [](int) { throw InstallerFailure("Quillmark is running."); };

    install(engine->locations().at(0));

    EXPECT_EQ(errorText(), "Quillmark is running.");
    EXPECT_TRUE(fs::is_directory(userRoot.path()));
}

TEST_F(InstallEnvironmentTest, PreviousCopyThatCannotBeDeletedStaysWithAWarning)
{
    installPrevious();
    std::string stuck = destination.path() + "/Contents/Resources/About.txt";
    if (std::system(("chattr +i '" + stuck + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "chattr +i is not available on this file system";

    install();

    auto kept = stagingFolders();
    if (!kept.empty())
        std::system(("chattr -i '" + root.path() + "/" + kept.front() + "/Previous Quillmark.app/Contents/Resources/About.txt'").c_str());
    std::system(("chattr -i '" + stuck + "' 2>/dev/null").c_str());
    ASSERT_TRUE(result) << errorText();
    EXPECT_EQ(result->warning.value_or(""),
        "The update succeeded. A previous application copy remains at " + backupPath() + " because it could not be removed.");
    EXPECT_EQ(buildAt(destination.path()), "241");
    EXPECT_TRUE(fs::exists(backupPath() + "/Contents/Resources/About.txt"));
    expectLockFileFree();
}

// The room was there when the installation looked, but another program
// took it while the copy was made.
TEST_F(InstallEnvironmentTest, FullVolumeFailsWithOutOfSpaceAndLeavesNothing)
{
    std::string whyNot;
    auto volume = ScopedMount::sizeLimitedTmpfs(root.path(), 32 << 20, whyNot);
    if (!volume)
        GTEST_SKIP() << whyNot;
    installPrevious();
    usePayload(*this, folder.path("Large/Quillmark.app"), [](const std::string& bundle) {
        writeFile(bundle + "/Contents/Resources/large.bin", std::string(1024 * 1024, 'L'));
    });
    auto before = snapshotTree(destination.path());
    files->before(FileOperation::copyItem, [](const std::string&) { return true; }, [this] {
        struct statvfs space {};
        ASSERT_EQ(::statvfs(root.path().c_str(), &space), 0);
        auto leave = 256 * 1024;
        writeFile(folder.path("Applications/filler"),
            std::string(static_cast<std::size_t>(space.f_bavail * space.f_frsize - leave), 'F'));
    });

    install();

    ASSERT_TRUE(error) << "the installation succeeded";
    try {
        std::rethrow_exception(error);
    } catch (const platform::Error& failure) {
        EXPECT_EQ(failure.domain(), platform::fileErrorDomain) << failure.description();
        EXPECT_EQ(failure.code(), platform::fileErrorCode::writeOutOfSpace) << failure.description();
    } catch (const std::exception& other) {
        FAIL() << "unexpected error: " << other.what();
    }
    EXPECT_TRUE(stagingFolders().empty());
    EXPECT_EQ(snapshotTree(destination.path()), before);
    EXPECT_EQ(identityOf(destination.path()), previousIdentity);
    expectLockFileFree();
}

// On an overlay volume, a change inside the installed copy (here a file the
// running application writes) copies its folders up from the layer beneath;
// it is still the copy the user reviewed, and the update goes ahead.
TEST_F(InstallEnvironmentTest, InstalledCopyCopiedUpOnAnOverlayIsStillTheReviewedOne)
{
    for (const char* name : { "lower", "upper", "work" })
        makeFolder(folder.path(name));
    writeBundle(folder.path("lower/Quillmark.app"), "230");
    std::string whyNot;
    rootVolume = ScopedMount::overlay(root.path(), folder.path("lower"), folder.path("upper"), folder.path("work"), whyNot);
    if (!rootVolume)
        GTEST_SKIP() << whyNot;
    auto location = reviewedLocation();
    ASSERT_TRUE(location.existing);
    bool copiedUp = false;
    onEnsureNotRunning = [this, &copiedUp](int call) {
        if (call != 1)
            return;
        writeFile(destination.path() + "/Contents/Resources/Recent.txt", "the viewer's own note\n");
        copiedUp = fs::is_directory(folder.path("upper/Quillmark.app/Contents/Resources"));
    };

    install(location);

    EXPECT_TRUE(copiedUp) << "the installed copy's folders were not copied up";
    ASSERT_TRUE(result) << errorText();
    EXPECT_EQ(buildAt(destination.path()), "241");
    EXPECT_NO_THROW(engine->verifiedPayload(destination));
    EXPECT_TRUE(stagingFolders().empty());
}

TEST_F(InstallEnvironmentTest, ReadOnlyRootIsAPermissionError)
{
    installPrevious();
    std::string whyNot;
    auto readOnly = ScopedMount::readOnlyBind(root.path(), whyNot);
    if (!readOnly)
        GTEST_SKIP() << whyNot;

    install();

    ASSERT_TRUE(error) << "the installation succeeded";
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& failure) {
        EXPECT_TRUE(InstallerEngine::permissionError(failure)) << failure.what();
    }
    EXPECT_TRUE(stagingFolders().empty());
    EXPECT_EQ(identityOf(destination.path()), previousIdentity);
}

} // namespace
} // namespace quillmark::testing
