#include "platform/error.hpp"
#include "platform/files/lock_file.hpp"
#include "tests/support/lock_probe.hpp"
#include "tests/support/temporary_folder.hpp"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace quillmark::platform {
namespace {

class LockFileTest : public ::testing::Test {
protected:
    FileURL lockURL() const { return FileURL(folder.path(".lock")); }

    testing::TemporaryFolder folder;
};

TEST_F(LockFileTest, CreatesAPrivateFileClosedOnExec)
{
    mode_t previous = ::umask(0);
    auto lock = LockFile::open(lockURL());
    ::umask(previous);

    struct stat status {};
    ASSERT_EQ(::stat(folder.path(".lock").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_TRUE(::fcntl(lock.descriptor(), F_GETFD) & FD_CLOEXEC) << "a launched application must not inherit the lock";
    EXPECT_EQ(::fcntl(lock.descriptor(), F_GETFL) & O_ACCMODE, O_RDWR);
}

TEST_F(LockFileTest, HoldsTheLockAgainstOtherProcessesUntilReleased)
{
    testing::writeFile(folder.path(".lock"), "left by an earlier installer");
    auto lock = LockFile::open(lockURL());
    EXPECT_TRUE(testing::anotherProcessCanLock(folder.path(".lock"))) << "an unlocked leftover file does not block";

    lock.lockExclusively();
    EXPECT_FALSE(testing::anotherProcessCanLock(folder.path(".lock")));

    lock.release();
    EXPECT_TRUE(testing::anotherProcessCanLock(folder.path(".lock")));
    EXPECT_EQ(testing::readFile(folder.path(".lock")), "left by an earlier installer") << "never written";
}

TEST_F(LockFileTest, ALockHeldElsewhereFailsAtOnceWithItsErrno)
{
    testing::LockHoldingProcess holder(folder.path(".lock"));
    auto lock = LockFile::open(lockURL());
    try {
        lock.lockExclusively();
        FAIL() << "no error";
    } catch (const Error& error) {
        EXPECT_EQ(error.domain(), posixErrorDomain);
        EXPECT_EQ(error.code(), EWOULDBLOCK);
        EXPECT_FALSE(error.underlying());
    }
}

TEST_F(LockFileTest, NeverOpensThroughALink)
{
    testing::makeLink(folder.path("elsewhere"), folder.path(".lock"));
    try {
        LockFile::open(lockURL());
        FAIL() << "no error";
    } catch (const Error& error) {
        EXPECT_EQ(error.domain(), posixErrorDomain);
        EXPECT_EQ(error.code(), ELOOP);
        EXPECT_FALSE(error.underlying());
        EXPECT_NE(error.description().find(folder.path(".lock")), std::string::npos) << error.description();
    }
    EXPECT_FALSE(std::filesystem::exists(folder.path("elsewhere")));
}

} // namespace
} // namespace quillmark::platform
