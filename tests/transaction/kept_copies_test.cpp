// Previous copies that interrupted installations kept in a staging folder:
// found under the root's lock, put back with the checks of a commit, or
// removed while a copy is installed.

#include "tests/transaction/install_fixture.hpp"

#include "tests/support/temporary_folder.hpp"
#include "tests/support/tree_snapshot.hpp"
#include "transaction/install_messages.hpp"

#include <filesystem>

namespace quillmark::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* stagingName = ".Quillmark-install-0F8E2A4C-1B3D-4E5F-8A9B-0C1D2E3F4A5B";

// Where an update was killed: after its first move, the destination empty;
// or after its second move, before the previous copy went.
enum class KilledAt { betweenTheMoves, afterTheSecondMove };

class KeptCopiesTest : public InstallFixture {
public:
    std::string staging() const { return root.path() + "/" + stagingName; }
    std::string kept() const { return staging() + "/Previous Quillmark.app"; }

    void killedUpdate(KilledAt point)
    {
        installPrevious();
        before = snapshotTree(destination.path());
        makeFolder(staging());
        fs::rename(destination.path(), kept());
        if (point == KilledAt::afterTheSecondMove)
            writeBundle(destination.path(), "241");
        else
            writeBundle(staging() + "/Quillmark.app", "241");
    }

    std::string errorOf(const std::function<void()>& action)
    {
        try {
            action();
        } catch (const std::exception& failure) {
            return failure.what();
        }
        return "";
    }

    std::map<std::string, ItemSnapshot> before;
};

struct FindingCase {
    const char* name;
    std::function<void(KeptCopiesTest&)> leave;
    // "230 empty", "230 installed", or "" when nothing must be reported.
    const char* reported;
};

void PrintTo(const FindingCase& row, std::ostream* stream)
{
    *stream << row.name;
}

class FindingTest : public KeptCopiesTest, public ::testing::WithParamInterface<FindingCase> { };

TEST_P(FindingTest, ReportsOnlyAWholePreviousCopyWithWhatTheDestinationHolds)
{
    GetParam().leave(*this);

    auto found = engine->keptCopies();

    std::string reported;
    for (const auto& copy : found) {
        EXPECT_EQ(copy.root, root);
        EXPECT_EQ(copy.staging.path(), staging());
        EXPECT_EQ(copy.previous.url.path(), kept());
        EXPECT_EQ(copy.previous.releaseVersion, "2.3.0");
        reported += copy.previous.build + (copy.destinationEmpty ? " empty" : " installed");
    }
    EXPECT_EQ(reported, GetParam().reported);
}

INSTANTIATE_TEST_SUITE_P(Leftovers, FindingTest,
    ::testing::Values(FindingCase { "KilledBetweenTheMoves", [](auto& t) { t.killedUpdate(KilledAt::betweenTheMoves); },
                          "230 empty" },
        FindingCase { "KilledBeforeThePreviousCopyWent",
            [](auto& t) { t.killedUpdate(KilledAt::afterTheSecondMove); }, "230 installed" },
        FindingCase { "OnlyAStagedCopy",
            [](auto& t) {
                t.installPrevious();
                t.writeBundle(t.staging() + "/Quillmark.app", "241");
            },
            "" },
        FindingCase { "APreviousCopyHalfRemoved",
            [](auto& t) {
                t.killedUpdate(KilledAt::afterTheSecondMove);
                fs::remove_all(t.kept() + "/Contents/MacOS");
            },
            "" },
        FindingCase { "ALinkUnderTheNameOfAPreviousCopy",
            [](auto& t) {
                t.installPrevious();
                makeFolder(t.staging());
                makeLink(t.destination.path(), t.kept());
            },
            "" }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(KeptCopiesTest, ARootWithNothingLeftIsNotLockedOrWrittenTo)
{
    installPrevious();

    EXPECT_TRUE(engine->keptCopies().empty());
    EXPECT_FALSE(fs::exists(root.path() + "/.Quillmark.install.lock"));
}

// A staging folder under a held lock belongs to an installer at work.
TEST_F(KeptCopiesTest, AnInstallerAtWorkIsLeftInPeace)
{
    killedUpdate(KilledAt::betweenTheMoves);
    LockHoldingProcess other(root.path() + "/.Quillmark.install.lock");

    EXPECT_TRUE(engine->keptCopies().empty());
    EXPECT_EQ(errorOf([&] { engine->restoreKeptCopy({ root, platform::FileURL(staging(), true),
                                   engine->metadata(platform::FileURL(kept(), true)), true }); }),
        transaction::message::lockHeld);
    EXPECT_TRUE(fs::exists(kept()));
}

TEST_F(KeptCopiesTest, PuttingItBackLeavesTheSameFilesAsBeforeTheUpdate)
{
    killedUpdate(KilledAt::betweenTheMoves);
    auto identity = identityOf(kept());
    auto found = engine->keptCopies();
    ASSERT_EQ(found.size(), 1u);

    engine->restoreKeptCopy(found.front());

    EXPECT_EQ(snapshotTree(destination.path()), before);
    EXPECT_EQ(identityOf(destination.path()), identity);
    EXPECT_TRUE(stagingFolders().empty());
    expectLockFileFree();
    EXPECT_TRUE(engine->keptCopies().empty());
}

// Whatever arrived since the copy was found belongs to someone else.
TEST_F(KeptCopiesTest, PuttingBackNeverReplacesWhatArrivedAtTheDestination)
{
    killedUpdate(KilledAt::betweenTheMoves);
    auto found = engine->keptCopies();
    ASSERT_EQ(found.size(), 1u);
    makeForeignFolder(destination.path());

    EXPECT_EQ(errorOf([&] { engine->restoreKeptCopy(found.front()); }), transaction::message::destinationOccupied);
    EXPECT_TRUE(foreignFolderIsAt(destination.path()));
    EXPECT_EQ(snapshotTree(kept()), before);
}

TEST_F(KeptCopiesTest, ACopyChangedSinceItWasFoundIsNotPutBack)
{
    killedUpdate(KilledAt::betweenTheMoves);
    auto found = engine->keptCopies();
    ASSERT_EQ(found.size(), 1u);
    fs::remove_all(kept());
    writeBundle(kept(), "235");

    EXPECT_EQ(errorOf([&] { engine->restoreKeptCopy(found.front()); }), transaction::message::keptCopyChanged);
    EXPECT_FALSE(fs::exists(destination.path()));
}

// Whatever the caller hands in, only a staging folder directly inside one
// of the engine's roots is ever changed.
TEST_F(KeptCopiesTest, AFolderOutsideTheRootsIsNeverTouched)
{
    killedUpdate(KilledAt::afterTheSecondMove);
    auto kept = engine->keptCopies().at(0);
    makeForeignFolder(folder.path("Elsewhere/.Quillmark-install-0F8E2A4C-1B3D-4E5F-8A9B-0C1D2E3F4A5B"));
    kept.staging = platform::FileURL(folder.path("Elsewhere/.Quillmark-install-0F8E2A4C-1B3D-4E5F-8A9B-0C1D2E3F4A5B"), true);

    EXPECT_EQ(errorOf([&] { engine->removeKeptCopy(kept); }), transaction::message::unsafeLocation);
    kept.root = platform::FileURL(folder.path("Elsewhere"), true);
    EXPECT_EQ(errorOf([&] { engine->removeKeptCopy(kept); }), transaction::message::unsafeLocation);
    EXPECT_TRUE(foreignFolderIsAt(kept.staging.path()));
}

TEST_F(KeptCopiesTest, RemovingItTakesTheStagingFolderAndNothingElse)
{
    killedUpdate(KilledAt::afterTheSecondMove);
    auto installed = snapshotTree(destination.path());
    auto found = engine->keptCopies();
    ASSERT_EQ(found.size(), 1u);

    engine->removeKeptCopy(found.front());

    EXPECT_TRUE(stagingFolders().empty());
    EXPECT_EQ(snapshotTree(destination.path()), installed);
    expectLockFileFree();
}

// Once the installed copy has gone, the kept one may be the only copy left.
TEST_F(KeptCopiesTest, RemovingItIsRefusedOnceNothingIsInstalled)
{
    killedUpdate(KilledAt::afterTheSecondMove);
    auto found = engine->keptCopies();
    ASSERT_EQ(found.size(), 1u);
    fs::remove_all(destination.path());

    EXPECT_EQ(errorOf([&] { engine->removeKeptCopy(found.front()); }),
        transaction::message::noCopyInstalled(destination.path()));
    EXPECT_EQ(snapshotTree(kept()), before);
}

} // namespace
} // namespace quillmark::testing
