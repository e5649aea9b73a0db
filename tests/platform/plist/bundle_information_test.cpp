#include "platform/plist/bundle_information.hpp"
#include "platform/files/volume_information.hpp"

#include "platform/error.hpp"
#include "tests/support/bundle_builder.hpp"
#include "tests/support/temporary_folder.hpp"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quillmark::platform {
namespace {

TEST(BundleInformationTest, FindsTheBundleAroundAProgram)
{
    testing::TemporaryFolder folder;
    auto bundle = testing::BundleBuilder()
                      .set("QuillmarkReleaseVersion", "2.4.0")
                      .setValue("CFBundleVersion", PropertyListValue::makeInteger(241))
                      .write(folder.path("Install Quillmark.app"));
    testing::writeFile(folder.path("Install Quillmark.app/Contents/Resources/Quillmark.png"), "png");

    auto information = bundleInformationForExecutable(FileURL(bundle.path() + "/Contents/MacOS/installer"));
    EXPECT_EQ(information.url(), FileURL(bundle.path(), true));
    EXPECT_EQ(information.string("QuillmarkReleaseVersion"), "2.4.0");
    EXPECT_EQ(information.string("CFBundleVersion"), std::nullopt) << "a key counts only as a string";
    EXPECT_EQ(information.string("Missing"), std::nullopt);
    EXPECT_EQ(information.imageResource("Quillmark"), FileURL(bundle.path() + "/Contents/Resources/Quillmark.png"));
    EXPECT_EQ(information.imageResource("Other"), std::nullopt);
}

TEST(BundleInformationTest, OutsideABundleIsTheProgramsFolderWithNothingInIt)
{
    testing::TemporaryFolder folder;
    testing::makeFolder(folder.path("build/MacOS"));
    for (const auto& program : { folder.path("build/installer"), folder.path("build/MacOS/installer") }) {
        auto information = bundleInformationForExecutable(FileURL(program));
        EXPECT_EQ(information.url(), FileURL(program).deletingLastComponent());
        EXPECT_TRUE(information.url().isDirectory());
        EXPECT_EQ(information.string("CFBundleIdentifier"), std::nullopt);
        EXPECT_EQ(information.imageResource("Quillmark"), std::nullopt);
    }
}

TEST(BundleInformationTest, AnUnreadableInfoPlistOffersNoKeys)
{
    testing::TemporaryFolder folder;
    auto bundle = testing::BundleBuilder().rawInfo("not a property list").write(folder.path("Install Quillmark.app"));
    auto information = bundleInformationForExecutable(FileURL(bundle.path() + "/Contents/MacOS/installer"));
    EXPECT_EQ(information.url(), FileURL(bundle.path(), true));
    EXPECT_EQ(information.string("CFBundleIdentifier"), std::nullopt);
}

TEST(BundleInformationTest, ThisTestProgramRunsOutsideABundle)
{
    auto information = ownBundleInformation();
    EXPECT_TRUE(information.url().isDirectory());
    EXPECT_EQ(information.string("CFBundleIdentifier"), std::nullopt);
}

TEST(VolumeInformationTest, TellsAWritableFolderFromAReadOnlyOne)
{
    testing::TemporaryFolder folder;
    EXPECT_FALSE(volumeIsReadOnly(folder.url()));
    testing::makeFolder(folder.path("disk/Quillmark.app"));
    testing::makeFolder(folder.path("mounted"));

    // A read-only bind mount, made in a child with a mount namespace of its
    // own so that nothing outside the test sees it.
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || ::mount(folder.path("disk").c_str(), folder.path("mounted").c_str(), nullptr, MS_BIND, nullptr) != 0
            || ::mount(nullptr, folder.path("mounted").c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0)
            ::_exit(2);
        try {
            bool readOnly = volumeIsReadOnly(FileURL(folder.path("mounted/Quillmark.app"), true));
            bool besideWritable = !volumeIsReadOnly(FileURL(folder.path("disk/Quillmark.app"), true));
            ::_exit(readOnly && besideWritable ? 0 : 1);
        } catch (...) {
            ::_exit(3);
        }
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2)
        GTEST_SKIP() << "This machine does not allow a private read-only bind mount.";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: not seen as read-only, 3: the volume could not be asked";
}

TEST(VolumeInformationTest, AMissingItemHasNoVolume)
{
    testing::TemporaryFolder folder;
    try {
        volumeIsReadOnly(FileURL(folder.path("missing/Quillmark.app"), true));
        FAIL() << "a missing item has no volume";
    } catch (const Error& error) {
        EXPECT_EQ(error.domain(), "file");
        EXPECT_EQ(error.code(), fileErrorCode::noSuchFile);
        EXPECT_EQ(error.description(), "Could not find the volume of \u201C" + folder.path("missing/Quillmark.app")
                + "\u201D because there is no such file or folder.");
    }
}

TEST(VolumeInformationTest, TheVolumesFolderIsAnExistingFolder)
{
    auto volumes = volumesFolder();
    struct stat status {};
    ASSERT_EQ(::stat(volumes.path().c_str(), &status), 0) << volumes.path();
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    EXPECT_TRUE(volumes.isDirectory());
}

} // namespace
} // namespace quillmark::platform
