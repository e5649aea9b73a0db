// The identity of a held item on an overlay volume, where a change to
// anything inside a folder copies the folder up from the layer beneath.

#include "platform/files/system_file_manager.hpp"
#include "tests/support/scoped_mount.hpp"
#include "tests/support/temporary_folder.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace quillmark::platform {
namespace {

namespace fs = std::filesystem;

class OverlayIdentityTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : { "lower", "upper", "work", "merged" })
            testing::makeFolder(folder.path(name));
        testing::writeFile(folder.path("lower/Quillmark.app/Contents/Resources/About.txt"), "about\n");
        std::string whyNot;
        overlay = testing::ScopedMount::overlay(
            folder.path("merged"), folder.path("lower"), folder.path("upper"), folder.path("work"), whyNot);
        if (!overlay)
            GTEST_SKIP() << whyNot;
    }

    std::string identityOf(const std::string& relative) const
    {
        return manager.holdItem(FileURL(folder.path("merged/" + relative))).identity();
    }

    testing::TemporaryFolder folder;
    std::unique_ptr<testing::ScopedMount> overlay;
    SystemFileManager manager;
};

TEST_F(OverlayIdentityTest, ACopyUpKeepsTheIdentityOfEveryItemOnItsPath)
{
    const std::vector<std::string> items { "Quillmark.app", "Quillmark.app/Contents/Resources",
        "Quillmark.app/Contents/Resources/About.txt" };
    std::vector<std::string> before;
    for (const auto& item : items)
        before.push_back(identityOf(item));

    std::ofstream(folder.path("merged/Quillmark.app/Contents/Resources/About.txt"), std::ios::app) << "more\n";
    ASSERT_TRUE(fs::exists(folder.path("upper/Quillmark.app/Contents/Resources/About.txt"))) << "nothing was copied up";

    for (std::size_t i = 0; i < items.size(); ++i)
        EXPECT_EQ(identityOf(items[i]), before[i]) << items[i];
}

TEST_F(OverlayIdentityTest, AFolderMadeInPlaceOfAnotherIsAnotherItem)
{
    auto before = identityOf("Quillmark.app");

    fs::remove_all(folder.path("merged/Quillmark.app"));
    testing::makeFolder(folder.path("merged/Quillmark.app/Contents"));

    EXPECT_NE(identityOf("Quillmark.app"), before);
}

} // namespace
} // namespace quillmark::platform
