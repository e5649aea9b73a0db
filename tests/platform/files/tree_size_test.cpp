#include "platform/files/tree_size.hpp"

#include "platform/error.hpp"
#include "tests/support/temporary_folder.hpp"

#include <gtest/gtest.h>

namespace quillmark::testing {
namespace {

TEST(TreeSizeTest, CountsWholeBlocksAndNeverFollowsALink)
{
    TemporaryFolder folder;
    writeFile(folder.path("Tree/one-byte"), "x");
    writeFile(folder.path("Tree/Inner/five-thousand"), std::string(5000, 'y'));
    writeFile(folder.path("Elsewhere/large"), std::string(1 << 20, 'z'));
    makeLink(folder.path("Elsewhere"), folder.path("Tree/outside"));

    // Tree, Inner and the link a block each; the files 1 and 2 blocks.
    EXPECT_EQ(platform::treeSize(platform::FileURL(folder.path("Tree"), true), 4096), 6u * 4096);
    EXPECT_EQ(platform::treeSize(platform::FileURL(folder.path("Tree/one-byte")), 512), 512u);
}

TEST(TreeSizeTest, AMissingItemIsAFileError)
{
    TemporaryFolder folder;
    try {
        platform::treeSize(platform::FileURL(folder.path("Missing"), true), 4096);
        FAIL() << "a size was measured";
    } catch (const platform::Error& error) {
        EXPECT_EQ(error.domain(), platform::fileErrorDomain);
        EXPECT_EQ(error.code(), platform::fileErrorCode::noSuchFile);
    }
}

} // namespace
} // namespace quillmark::testing
