// Staging folders that killed installers left in the root. Only a successful
// installation, still holding the lock, takes them away, and only those that
// hold no previous copy; nothing else in the root is ever touched.

#include "tests/transaction/install_fixture.hpp"

#include "tests/support/bundle_builder.hpp"
#include "tests/support/sealing.hpp"

#include <algorithm>
#include <filesystem>

namespace quillmark::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* leftoverWithBackup = ".Quillmark-install-0F8E2A4C-1B3D-4E5F-8A9B-0C1D2E3F4A5B";
constexpr const char* leftoverEmpty = ".Quillmark-install-11111111-2222-3333-4444-555555555555";

class LeftoverStagingTest : public InstallFixture {
protected:
    // What a killed installer leaves, and what only looks like it.
    void SetUp() override
    {
        writeBundle(root.path() + "/" + leftoverWithBackup + "/Previous Quillmark.app", "230");
        makeFolder(root.path() + "/" + leftoverEmpty);
        // Not quite the name of a staging folder: lower-case digits, a short
        // group, a suffix.
        makeFolder(root.path() + "/.Quillmark-install-0f8e2a4c-1b3d-4e5f-8a9b-0c1d2e3f4a5b");
        makeFolder(root.path() + "/.Quillmark-install-0F8E2A4C-1B3D-4E5F-8A9B-0C1D2E3F4A5");
        makeFolder(root.path() + "/.Quillmark-install-0F8E2A4C-1B3D-4E5F-8A9B-0C1D2E3F4A5B.old");
        writeFile(root.path() + "/Notes.txt", "the user's own\n");
        // A file and a link that bear the exact name: neither is a staging
        // folder, and the link's target lies outside the root.
        writeFile(root.path() + "/.Quillmark-install-22222222-2222-2222-2222-222222222222", "a file\n");
        writeFile(folder.path("Elsewhere/keep.txt"), "outside the root\n");
        makeLink(folder.path("Elsewhere"), root.path() + "/.Quillmark-install-33333333-3333-3333-3333-333333333333");
    }

    std::vector<std::string> itemsInRoot() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(root.path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    static std::vector<std::string> sorted(std::vector<std::string> names)
    {
        std::sort(names.begin(), names.end());
        return names;
    }

    const std::vector<std::string> lookAlikes { ".Quillmark-install-0f8e2a4c-1b3d-4e5f-8a9b-0c1d2e3f4a5b",
        ".Quillmark-install-0F8E2A4C-1B3D-4E5F-8A9B-0C1D2E3F4A5",
        ".Quillmark-install-0F8E2A4C-1B3D-4E5F-8A9B-0C1D2E3F4A5B.old",
        ".Quillmark-install-22222222-2222-2222-2222-222222222222",
        ".Quillmark-install-33333333-3333-3333-3333-333333333333", "Notes.txt" };
};

TEST_F(LeftoverStagingTest, ASuccessfulInstallationRemovesThemAndNothingElse)
{
    installPrevious();

    install();

    ASSERT_TRUE(result) << errorText();
    EXPECT_FALSE(result->warning);
    auto expected = lookAlikes;
    expected.insert(expected.end(), { ".Quillmark.install.lock", "Quillmark.app", leftoverWithBackup });
    EXPECT_EQ(itemsInRoot(), sorted(expected));
    EXPECT_EQ(readFile(root.path() + "/Notes.txt"), "the user's own\n");
    EXPECT_EQ(readFile(folder.path("Elsewhere/keep.txt")), "outside the root\n");
    EXPECT_EQ(buildAt(destination.path()), "241");
}

// The person may have been told where that copy is; it stays until they
// choose, however many installations follow.
TEST_F(LeftoverStagingTest, ALeftoverHoldingAPreviousCopyOutlivesEverySuccess)
{
    std::string kept = root.path() + "/" + leftoverWithBackup + "/Previous Quillmark.app";
    std::string keptIdentity = identityOf(kept);

    for (int round = 0; round < 2; ++round) {
        result.reset();
        install();
        ASSERT_TRUE(result) << errorText();
    }

    EXPECT_EQ(identityOf(kept), keptIdentity);
    EXPECT_EQ(buildAt(kept), "230");
    EXPECT_FALSE(fs::exists(root.path() + "/" + leftoverEmpty));
}

// A leftover may hold the only previous copy (an installer killed between its
// two moves): it goes only once a new copy is in place and verified.
TEST_F(LeftoverStagingTest, AFailedInstallationLeavesThemWhereTheyAre)
{
    callbacks.afterReplace = [this] { tamperWith(destination); };

    install();

    ASSERT_TRUE(error);
    EXPECT_FALSE(result);
    auto expected = lookAlikes;
    expected.insert(expected.end(), { ".Quillmark.install.lock", leftoverWithBackup, leftoverEmpty });
    EXPECT_EQ(itemsInRoot(), sorted(expected));
    EXPECT_EQ(buildAt(root.path() + "/" + leftoverWithBackup + "/Previous Quillmark.app"), "230");
}

// Tidying is no part of the result: when a leftover cannot go, the
// installation is still the success it was, with no word about it.
TEST_F(LeftoverStagingTest, ALeftoverThatCannotBeRemovedChangesNothingOfTheResult)
{
    files->fail(FileOperation::removeItem, pathEndsWith(std::string("/") + leftoverEmpty), EACCES);

    install();

    ASSERT_TRUE(result) << errorText();
    EXPECT_FALSE(result->warning);
    EXPECT_EQ(result->installed, destination);
    auto expected = lookAlikes;
    expected.insert(expected.end(), { ".Quillmark.install.lock", "Quillmark.app", leftoverWithBackup, leftoverEmpty });
    EXPECT_EQ(itemsInRoot(), sorted(expected));
}

// Until the root's entry for the new copy is on the disk, a power cut could
// bring back a root whose only earlier copy lies in a leftover.
TEST_F(LeftoverStagingTest, TheyStayWhenTheNewCopyIsNotYetSureToSurviveAPowerCut)
{
    // The root's first sync makes the staged copy durable; its second follows the swap.
    files->fail(FileOperation::synchronize, pathIs(root.path()), EIO, 2);

    install();

    ASSERT_TRUE(result) << errorText();
    auto expected = lookAlikes;
    expected.insert(expected.end(), { ".Quillmark.install.lock", "Quillmark.app", leftoverWithBackup, leftoverEmpty });
    EXPECT_EQ(itemsInRoot(), sorted(expected));
}

} // namespace
} // namespace quillmark::testing
