#include "platform/file_url.hpp"

#include "tests/support/temporary_folder.hpp"

#include <gtest/gtest.h>

namespace quillmark::platform {
namespace {

TEST(FileURLTest, KeepsNoTrailingSlashExceptForTheRoot)
{
    EXPECT_EQ(FileURL("/Applications/", true).path(), "/Applications");
    EXPECT_EQ(FileURL("/", true).path(), "/");
    EXPECT_EQ(FileURL("///", true).path(), "/");
}

TEST(FileURLTest, RefusesARelativePath)
{
    EXPECT_THROW(FileURL("Applications"), std::invalid_argument);
    EXPECT_THROW(FileURL(""), std::invalid_argument);
}

TEST(FileURLTest, StandardizesLexically)
{
    struct Case {
        const char* path;
        const char* standardized;
    };
    const Case cases[] = {
        { "/Applications/./Quillmark.app", "/Applications/Quillmark.app" },
        { "/Users/me/../you/Applications", "/Users/you/Applications" },
        { "/../..", "/" },
        { "//Applications//Quillmark.app/", "/Applications/Quillmark.app" },
        { "/a/b/../../c", "/c" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(FileURL(c.path).standardized().path(), c.standardized) << c.path;
}

TEST(FileURLTest, AppendsComponentsAndKeepsTheFolderFlag)
{
    FileURL root("/Applications", true);
    auto bundle = root.appendingDirectory("Quillmark.app");
    EXPECT_EQ(bundle.path(), "/Applications/Quillmark.app");
    EXPECT_TRUE(bundle.isDirectory());
    auto lock = root.appendingFile(".Quillmark.install.lock");
    EXPECT_EQ(lock.path(), "/Applications/.Quillmark.install.lock");
    EXPECT_FALSE(lock.isDirectory());
    EXPECT_EQ(FileURL("/", true).appendingFile("x").path(), "/x");
    EXPECT_EQ(bundle.lastComponent(), "Quillmark.app");
    EXPECT_EQ(bundle.deletingLastComponent(), root);
}

TEST(FileURLTest, EqualityComparesPathAndFolderFlag)
{
    EXPECT_EQ(FileURL("/a/b", true), FileURL("/a/b/", true));
    EXPECT_NE(FileURL("/a/b", true), FileURL("/a/b", false));
    EXPECT_NE(FileURL("/a/b"), FileURL("/a/c"));
}

TEST(FileURLTest, ResolvesLinksOnTheExistingPartOfThePath)
{
    testing::TemporaryFolder folder;
    testing::makeFolder(folder.path("real/inner"));
    testing::makeLink(folder.path("real"), folder.path("link"));

    auto resolved = FileURL(folder.path("link/inner/missing/x.app"), true).resolvingSymlinks();
    EXPECT_EQ(resolved.path(), folder.path("real/inner/missing/x.app"));
    EXPECT_TRUE(resolved.isDirectory());
    EXPECT_EQ(FileURL(folder.path("link/../real")).resolvingSymlinks().path(), folder.path("real"));
}

} // namespace
} // namespace quillmark::platform
