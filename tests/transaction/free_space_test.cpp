// An installation that cannot fit fails before it writes a byte of the copy,
// with a sentence that names what it needs and what is free.

#include "tests/transaction/install_fixture.hpp"

#include "tests/support/temporary_folder.hpp"
#include "tests/support/tree_snapshot.hpp"
#include "transaction/install_messages.hpp"

#include <fcntl.h>
#include <filesystem>
#include <sys/statvfs.h>
#include <unistd.h>

namespace quillmark::testing {
namespace {

namespace fs = std::filesystem;

std::uint64_t availableOn(const std::string& path)
{
    struct statvfs volume {};
    if (::statvfs(path.c_str(), &volume) != 0)
        throw std::runtime_error("no volume at " + path);
    return static_cast<std::uint64_t>(volume.f_bavail) * volume.f_frsize;
}

// Takes all but `leave` bytes of the volume holding `folder`, for real.
void fillLeaving(const std::string& folder, std::uint64_t leave)
{
    auto take = availableOn(folder) - leave;
    int fd = ::open((folder + "/filler").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::posix_fallocate(fd, 0, static_cast<off_t>(take)), 0);
    ::close(fd);
}

using FreeSpaceTest = InstallFixture;

TEST_F(FreeSpaceTest, AFullVolumeFailsBeforeAnythingIsWrittenAndKeepsThePreviousCopy)
{
    std::string whyNot;
    if (!placeRootOn(Volume::tmpfs, whyNot))
        GTEST_SKIP() << whyNot;
    installPrevious();
    auto previous = snapshotTree(destination.path());
    fillLeaving(root.path(), 4 << 20);
    auto free = availableOn(root.path());

    install();

    ASSERT_TRUE(error);
    auto text = errorText();
    EXPECT_TRUE(text.starts_with("There is not enough free space to install Quillmark in " + root.path() + ". It needs "))
        << text;
    EXPECT_TRUE(text.ends_with(", and " + transaction::message::byteCountText(free)
        + " is free. Free some space and try again."))
        << text;
    EXPECT_EQ(availableOn(root.path()), free) << "nothing was written";
    EXPECT_TRUE(stagingFolders().empty());
    EXPECT_EQ(snapshotTree(destination.path()), previous);
    EXPECT_EQ(identityOf(destination.path()), previousIdentity);
    expectLockFileFree();
}

TEST_F(FreeSpaceTest, AVolumeWithRoomEnoughInstalls)
{
    std::string whyNot;
    if (!placeRootOn(Volume::tmpfs, whyNot))
        GTEST_SKIP() << whyNot;
    installPrevious();

    install();

    ASSERT_TRUE(result) << errorText();
    EXPECT_EQ(buildAt(destination.path()), "241");
}

struct ByteCountCase {
    std::uint64_t bytes;
    const char* text;
};

class ByteCountTest : public ::testing::TestWithParam<ByteCountCase> { };

TEST_P(ByteCountTest, ReadsAsDiskSizesAreShown)
{
    EXPECT_EQ(transaction::message::byteCountText(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ByteCountTest,
    ::testing::Values(ByteCountCase { 0, "0 bytes" }, ByteCountCase { 1, "1 byte" }, ByteCountCase { 999, "999 bytes" },
        ByteCountCase { 1000, "1.0 KB" }, ByteCountCase { 1'536'000, "1.5 MB" }, ByteCountCase { 999'960, "1.0 MB" },
        ByteCountCase { 17'179'869'184, "17.2 GB" }));

} // namespace
} // namespace quillmark::testing
