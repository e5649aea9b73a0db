#include "platform/files/system_file_manager.hpp"

#include "platform/error.hpp"
#include "tests/support/temporary_folder.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace quillmark::platform {
namespace {

class SystemFileManagerTest : public ::testing::Test {
protected:
    FileURL at(std::string_view relative) const { return FileURL(folder.path(relative)); }

    testing::TemporaryFolder folder;
    SystemFileManager manager;
};

TEST_F(SystemFileManagerTest, AttributesDescribeTheItemItself)
{
    testing::writeFile(folder.path("file"), "x");
    testing::makeFolder(folder.path("folder"));
    testing::makeLink("file", folder.path("link"));
    testing::makeLink("missing", folder.path("dangling"));
    ASSERT_EQ(::mkfifo(folder.path("fifo").c_str(), 0600), 0);

    EXPECT_EQ(manager.attributesOfItem(at("file")).type, FileType::regular);
    EXPECT_EQ(manager.attributesOfItem(at("folder")).type, FileType::directory);
    EXPECT_EQ(manager.attributesOfItem(at("link")).type, FileType::symbolicLink);
    EXPECT_EQ(manager.attributesOfItem(at("dangling")).type, FileType::symbolicLink);
    EXPECT_EQ(manager.attributesOfItem(at("fifo")).type, FileType::other);

    struct stat status {};
    ASSERT_EQ(::lstat(folder.path("link").c_str(), &status), 0);
    auto attributes = manager.attributesOfItem(at("link"));
    EXPECT_EQ(attributes.fileNumber, status.st_ino);
    EXPECT_EQ(attributes.fileSystemNumber, status.st_dev);
}

TEST_F(SystemFileManagerTest, MissingItemGivesANoSuchFileError)
{
    try {
        manager.attributesOfItem(at("missing"));
        FAIL() << "no error";
    } catch (const Error& error) {
        EXPECT_EQ(error.domain(), fileErrorDomain);
        EXPECT_EQ(error.code(), fileErrorCode::noSuchFile);
    }
}

TEST_F(SystemFileManagerTest, ExistenceAndFolderChecksFollowLinks)
{
    testing::makeFolder(folder.path("folder"));
    testing::makeLink("folder", folder.path("link"));
    testing::makeLink("missing", folder.path("dangling"));

    EXPECT_TRUE(manager.fileExists(at("link")));
    EXPECT_FALSE(manager.fileExists(at("dangling")));
    EXPECT_FALSE(manager.fileExists(at("missing")));
    EXPECT_TRUE(manager.isDirectory(at("link")));
    EXPECT_THROW(manager.isDirectory(at("missing")), Error);
}

TEST_F(SystemFileManagerTest, ExecutableMeansARegularFileWithAnExecuteBit)
{
    testing::writeFile(folder.path("tool"), "#!/bin/sh\n", 0755);
    testing::writeFile(folder.path("text"), "x", 0644);
    testing::makeFolder(folder.path("folder"));

    EXPECT_TRUE(manager.isExecutableFile(at("tool")));
    EXPECT_FALSE(manager.isExecutableFile(at("text")));
    EXPECT_FALSE(manager.isExecutableFile(at("folder")));
    EXPECT_FALSE(manager.isExecutableFile(at("missing")));
}

TEST_F(SystemFileManagerTest, ReadsWholeRegularFilesOnly)
{
    std::string large(300 * 1024, 'q');
    testing::writeFile(folder.path("large"), large);
    ASSERT_EQ(::mkfifo(folder.path("fifo").c_str(), 0600), 0);
    testing::makeFolder(folder.path("folder"));

    EXPECT_EQ(manager.contentsOfFile(at("large")), large);
    // A FIFO must not stall the read waiting for a writer.
    EXPECT_THROW(manager.contentsOfFile(at("fifo")), Error);
    EXPECT_THROW(manager.contentsOfFile(at("folder")), Error);
    EXPECT_THROW(manager.contentsOfFile(at("missing")), Error);
}

TEST_F(SystemFileManagerTest, HomeFolderComesFromTheEnvironment)
{
    const char* saved = std::getenv("HOME");
    std::string previous = saved != nullptr ? saved : "";
    ::setenv("HOME", folder.path().c_str(), 1);
    EXPECT_EQ(manager.homeDirectoryForCurrentUser(), FileURL(folder.path(), true));
    ::unsetenv("HOME");
    EXPECT_EQ(manager.homeDirectoryForCurrentUser().path().front(), '/');
    if (saved != nullptr)
        ::setenv("HOME", previous.c_str(), 1);
}

} // namespace
} // namespace quillmark::platform
