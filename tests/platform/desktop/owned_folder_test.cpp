#include "platform/desktop/owned_folder.hpp"

#include "platform/error.hpp"
#include "tests/support/failure_text.hpp"
#include "tests/support/scoped_mount.hpp"
#include "tests/support/temporary_folder.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace quillmark::platform {
namespace {

namespace fs = std::filesystem;
using testing::makeFolder;
using testing::makeLink;
using testing::readFile;
using testing::writeFile;

// Owned by nobody this process runs as.
constexpr uid_t otherUser = 54321;

std::vector<std::string> namesIn(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class OwnedFolderTest : public ::testing::Test {
protected:
    testing::TemporaryFolder folder;
    std::string data = folder.path("data");
};

TEST_F(OwnedFolderTest, CreatesTheMissingFoldersAndReplacesAFileWhole)
{
    auto applications = OwnedFolder::open(FileURL(data + "/share", true), 0700).subfolder("applications", 0755);
    EXPECT_EQ(fs::status(data + "/share").permissions(), fs::perms::owner_all);
    applications.replaceFile("viewer.desktop", "first\n", 0644);
    struct stat first {};
    ASSERT_EQ(::stat((data + "/share/applications/viewer.desktop").c_str(), &first), 0);

    const auto previousMask = ::umask(077);
    applications.replaceFile("viewer.desktop", "second\n", 0644);
    ::umask(previousMask);

    const auto path = data + "/share/applications/viewer.desktop";
    EXPECT_EQ(readFile(path), "second\n");
    struct stat second {};
    ASSERT_EQ(::stat(path.c_str(), &second), 0);
    EXPECT_EQ(second.st_mode & 07777, 0644u) << "the mode is exact, whatever the umask";
    EXPECT_NE(second.st_ino, first.st_ino) << "a new file took the name; the old one was not written over";
    EXPECT_EQ(namesIn(data + "/share/applications"), std::vector<std::string> { "viewer.desktop" })
        << "no temporary file is left behind";
}

TEST_F(OwnedFolderTest, ALinkAtTheNameIsReplacedAndItsTargetLeftAlone)
{
    makeFolder(data);
    writeFile(folder.path("elsewhere"), "someone else's file\n");
    makeLink(folder.path("elsewhere"), data + "/viewer.desktop");

    OwnedFolder::open(FileURL(data, true), 0700).replaceFile("viewer.desktop", "entry\n", 0644);

    EXPECT_EQ(readFile(folder.path("elsewhere")), "someone else's file\n");
    EXPECT_FALSE(fs::is_symlink(data + "/viewer.desktop"));
    EXPECT_EQ(readFile(data + "/viewer.desktop"), "entry\n");
}

TEST_F(OwnedFolderTest, AnItemOfAnotherUserAtTheNameIsRefusedAndKept)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving a file to another user needs root";
    makeFolder(data);
    writeFile(folder.path("target"), "kept\n");
    struct Planted {
        const char* name;
        std::function<void(const std::string& path)> plant;
    };
    const Planted cases[] = {
        { "file", [](const std::string& path) { writeFile(path, "theirs\n"); } },
        { "link", [&](const std::string& path) { makeLink(folder.path("target"), path); } },
    };
    for (const auto& planted : cases) {
        SCOPED_TRACE(planted.name);
        const auto path = data + "/viewer.desktop";
        fs::remove(path);
        planted.plant(path);
        ASSERT_EQ(::lchown(path.c_str(), otherUser, otherUser), 0);

        auto why = testing::failureText([&] { OwnedFolder::open(FileURL(data, true), 0700).replaceFile("viewer.desktop", "entry\n", 0644); });

        EXPECT_EQ(why, "Could not write \u201C" + path + "\u201D because it belongs to another user.");
        struct stat status {};
        ASSERT_EQ(::lstat(path.c_str(), &status), 0);
        EXPECT_EQ(status.st_uid, otherUser);
        EXPECT_EQ(readFile(folder.path("target")), "kept\n");
        EXPECT_EQ(namesIn(data), std::vector<std::string> { "viewer.desktop" });
    }
}

TEST_F(OwnedFolderTest, AFolderOfAnotherUserIsNotWrittenThrough)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving a folder to another user needs root";
    makeFolder(data);
    makeFolder(data + "/applications");
    ASSERT_EQ(::chown((data + "/applications").c_str(), otherUser, otherUser), 0);
    ASSERT_EQ(::chown(data.c_str(), otherUser, otherUser), 0);

    EXPECT_EQ(testing::failureText([&] { OwnedFolder::open(FileURL(data, true), 0700); }),
        "Could not write \u201C" + data + "\u201D because it belongs to another user.");
    ASSERT_EQ(::chown(data.c_str(), 0, 0), 0);
    EXPECT_EQ(testing::failureText([&] { OwnedFolder::open(FileURL(data, true), 0700).subfolder("applications", 0700); }),
        "Could not write \u201C" + data + "/applications\u201D because it belongs to another user.");
    EXPECT_TRUE(namesIn(data + "/applications").empty());
}

TEST_F(OwnedFolderTest, ALinkInPlaceOfAFolderBelowIsNotFollowed)
{
    makeFolder(data);
    makeFolder(folder.path("elsewhere"));
    makeLink(folder.path("elsewhere"), data + "/applications");

    auto why = testing::failureText([&] { OwnedFolder::open(FileURL(data, true), 0700).subfolder("applications", 0700); });

    EXPECT_EQ(why, "Could not open the folder \u201C" + data + "/applications\u201D because it is a symbolic link, or "
                   "there are too many symbolic links on the path.");
    EXPECT_TRUE(namesIn(folder.path("elsewhere")).empty());
}

TEST_F(OwnedFolderTest, AReadOnlyFolderSaysSoAndKeepsItsFile)
{
    makeFolder(data);
    writeFile(data + "/viewer.desktop", "old\n");
    std::string whyNot;
    auto readOnly = testing::ScopedMount::readOnlyBind(data, whyNot);
    if (!readOnly)
        GTEST_SKIP() << whyNot;

    auto why = testing::failureText([&] { OwnedFolder::open(FileURL(data, true), 0700).replaceFile("viewer.desktop", "new\n", 0644); });

    EXPECT_EQ(why, "Could not write \u201C" + data + "/viewer.desktop\u201D because the volume is read-only.");
    EXPECT_EQ(readFile(data + "/viewer.desktop"), "old\n");
}

} // namespace
} // namespace quillmark::platform
