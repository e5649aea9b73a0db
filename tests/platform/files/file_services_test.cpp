#include "platform/error.hpp"
#include "platform/files/system_file_manager.hpp"
#include "tests/support/temporary_folder.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace quillmark::platform {
namespace {

class FileServicesTest : public ::testing::Test {
protected:
    FileURL at(std::string_view relative) const { return FileURL(folder.path(relative)); }

    static unsigned modeOf(const std::string& path)
    {
        struct stat status {};
        EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
        return status.st_mode & 07777;
    }

    static std::string inodeOf(const std::string& path)
    {
        struct stat status {};
        EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
        return std::to_string(status.st_dev) + "|" + std::to_string(status.st_ino);
    }

    // Runs `operation`, which must fail, and returns its error.
    template <typename Operation>
    static Error errorOf(Operation operation)
    {
        try {
            operation();
        } catch (const Error& error) {
            return error;
        }
        ADD_FAILURE() << "no error";
        return Error("", 0, "");
    }

    testing::TemporaryFolder folder;
    SystemFileManager manager;
};

class UmaskScope {
public:
    explicit UmaskScope(mode_t mask)
        : previous_(::umask(mask))
    {
    }
    ~UmaskScope() { ::umask(previous_); }

private:
    mode_t previous_;
};

TEST_F(FileServicesTest, CreatesMissingParentsAndGivesTheExactMode)
{
    UmaskScope mask(077);
    manager.createDirectory(at("a/b/c"), MissingParents::create, 0751);

    EXPECT_EQ(modeOf(folder.path("a/b/c")), 0751u);
    EXPECT_EQ(modeOf(folder.path("a/b")), 0700u) << "parents follow the umask";
}

TEST_F(FileServicesTest, WithoutAModeTheUmaskDecides)
{
    UmaskScope mask(022);
    manager.createDirectory(at("plain"), MissingParents::fail);
    EXPECT_EQ(modeOf(folder.path("plain")), 0755u);
}

TEST_F(FileServicesTest, AcceptsAnExistingFolderOnlyWhenCreatingParents)
{
    testing::makeFolder(folder.path("there"));
    EXPECT_NO_THROW(manager.createDirectory(at("there"), MissingParents::create));

    auto error = errorOf([&] { manager.createDirectory(at("there"), MissingParents::fail, 0700); });
    EXPECT_EQ(error.domain(), fileErrorDomain);
    EXPECT_EQ(error.code(), fileErrorCode::writeFileExists);
    EXPECT_EQ(error.description(),
        "Could not create the folder \u201C" + folder.path("there") + "\u201D because an item with that name already exists.");
}

TEST_F(FileServicesTest, FolderCreationErrors)
{
    testing::writeFile(folder.path("file"), "x");

    auto missingParent = errorOf([&] { manager.createDirectory(at("none/child"), MissingParents::fail, 0700); });
    EXPECT_EQ(missingParent.code(), fileErrorCode::noSuchFile);
    ASSERT_TRUE(missingParent.underlying());
    EXPECT_EQ(missingParent.underlying()->code(), ENOENT);

    auto fileInTheWay = errorOf([&] { manager.createDirectory(at("file/child"), MissingParents::create); });
    EXPECT_EQ(fileInTheWay.code(), fileErrorCode::noSuchFile);
    EXPECT_NE(fileInTheWay.description().find(folder.path("file/child")), std::string::npos);
}

TEST_F(FileServicesTest, MoveKeepsTheObjectAndNeverReplaces)
{
    testing::writeFile(folder.path("Source.app/file"), "new");
    testing::writeFile(folder.path("Target.app/file"), "old");
    auto identity = inodeOf(folder.path("Source.app"));

    auto error = errorOf([&] { manager.moveItem(at("Source.app"), at("Target.app")); });
    EXPECT_EQ(error.code(), fileErrorCode::writeFileExists);
    EXPECT_EQ(error.description(),
        "Could not move \u201C" + folder.path("Source.app") + "\u201D to \u201C" + folder.path("Target.app")
            + "\u201D because an item with that name already exists.");
    EXPECT_EQ(testing::readFile(folder.path("Target.app/file")), "old");

    manager.moveItem(at("Source.app"), at("Moved.app"));
    EXPECT_EQ(inodeOf(folder.path("Moved.app")), identity);
    EXPECT_FALSE(std::filesystem::exists(folder.path("Source.app")));
}

TEST_F(FileServicesTest, MoveNeverCrossesVolumes)
{
    struct stat here {}, there {};
    ASSERT_EQ(::stat(folder.path().c_str(), &here), 0);
    if (::stat("/dev/shm", &there) != 0 || here.st_dev == there.st_dev)
        GTEST_SKIP() << "/dev/shm is missing or on the same volume as the temporary folder";
    testing::writeFile(folder.path("item"), "x");
    std::string elsewhere = "/dev/shm/quillmark-move-test-" + std::to_string(::getpid());

    auto error = errorOf([&] { manager.moveItem(at("item"), FileURL(elsewhere)); });
    EXPECT_EQ(error.underlying()->code(), EXDEV);
    EXPECT_FALSE(std::filesystem::exists(elsewhere));
    EXPECT_TRUE(std::filesystem::exists(folder.path("item")));
}

TEST_F(FileServicesTest, RemovalNeverFollowsLinks)
{
    testing::writeFile(folder.path("Outside/keep.txt"), "keep");
    testing::writeFile(folder.path("Tree/Contents/file"), "x");
    testing::makeLink(folder.path("Outside"), folder.path("Tree/Contents/to-folder"));
    testing::makeLink(folder.path("Outside/keep.txt"), folder.path("Tree/to-file"));
    testing::makeFolder(folder.path("Tree/Locked"));
    testing::writeFile(folder.path("Tree/Locked/inner"), "x");
    ASSERT_EQ(::chmod(folder.path("Tree/Locked").c_str(), 0500), 0);

    manager.removeItem(at("Tree"));

    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(folder.path("Tree"))));
    EXPECT_EQ(testing::readFile(folder.path("Outside/keep.txt")), "keep");
}

// Wide and deep enough that every worker of the removal takes part, with
// links out of the tree at every level and folders that only their owner
// may change.
TEST_F(FileServicesTest, RemovesALargeTreeCompletelyAndNothingOutsideIt)
{
    testing::writeFile(folder.path("Outside/keep.txt"), "keep");
    std::string level = folder.path("Tree");
    for (int depth = 0; depth < 12; ++depth) {
        for (int branch = 0; branch < 6; ++branch) {
            auto side = level + "/side" + std::to_string(branch);
            for (int file = 0; file < 5; ++file)
                testing::writeFile(side + "/file" + std::to_string(file), std::string(4096, 'x'));
            testing::makeLink(folder.path("Outside"), side + "/to-outside");
        }
        testing::makeLink(folder.path("Outside/keep.txt"), level + "/to-keep");
        level += "/deeper";
        testing::makeFolder(level);
    }
    ASSERT_EQ(::chmod(folder.path("Tree/side3").c_str(), 0500), 0);

    manager.removeItem(at("Tree"));

    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(folder.path("Tree"))));
    EXPECT_EQ(testing::readFile(folder.path("Outside/keep.txt")), "keep");
    EXPECT_TRUE(std::filesystem::is_directory(folder.path("Outside")));
}

TEST_F(FileServicesTest, RemovingALinkRemovesOnlyTheLink)
{
    testing::writeFile(folder.path("Real/file"), "x");
    testing::makeLink("Real", folder.path("Link"));

    manager.removeItem(at("Link"));

    EXPECT_FALSE(std::filesystem::is_symlink(folder.path("Link")));
    EXPECT_TRUE(std::filesystem::exists(folder.path("Real/file")));
}

TEST_F(FileServicesTest, RemovalErrorsNameTheItem)
{
    auto missing = errorOf([&] { manager.removeItem(at("missing")); });
    EXPECT_EQ(missing.code(), fileErrorCode::noSuchFile);
    EXPECT_EQ(missing.description(),
        "Could not remove \u201C" + folder.path("missing") + "\u201D because there is no such file or folder.");

    // An immutable file refuses even root; it stays, and so do the folders
    // that lead to it, whatever the other workers removed meanwhile.
    const auto stuckPath = folder.path("Tree/a/b/stuck");
    testing::writeFile(stuckPath, "x");
    for (int i = 0; i < 40; ++i)
        testing::writeFile(folder.path("Tree/" + std::string(i % 2 ? "a/" : "") + "other" + std::to_string(i)), "x");
    if (std::system(("chattr +i '" + stuckPath + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "chattr +i is not available on this file system";
    auto stuck = errorOf([&] { manager.removeItem(at("Tree")); });
    std::system(("chattr -i '" + stuckPath + "'").c_str());
    EXPECT_EQ(stuck.code(), fileErrorCode::writeNoPermission);
    EXPECT_EQ(stuck.description(), "Could not remove \u201C" + stuckPath + "\u201D because you don't have permission.");
    EXPECT_TRUE(std::filesystem::exists(stuckPath));
}

TEST_F(FileServicesTest, SynchronizesTreesWithLinksAndSpecialItems)
{
    testing::writeFile(folder.path("Tree/a/b/file"), "x");
    testing::makeLink("/nonexistent", folder.path("Tree/a/dangling"));
    ASSERT_EQ(::mkfifo(folder.path("Tree/fifo").c_str(), 0600), 0);

    EXPECT_NO_THROW(manager.synchronize(at("Tree"), SyncScope::itemAndContents));
    EXPECT_NO_THROW(manager.synchronize(at("Tree"), SyncScope::item));
    EXPECT_NO_THROW(manager.synchronize(FileURL("/"), SyncScope::item));

    auto missing = errorOf([&] { manager.synchronize(at("missing"), SyncScope::item); });
    EXPECT_EQ(missing.code(), fileErrorCode::noSuchFile);
    EXPECT_NE(missing.description().find(folder.path("missing")), std::string::npos);
}

} // namespace
} // namespace quillmark::platform
