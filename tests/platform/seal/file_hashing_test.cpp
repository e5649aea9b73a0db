// Hashing files for the seal check: what is read, what a digest read earlier
// may stand for, and what happens when a file changes under the reader.

#include "platform/seal/known_digests.hpp"
#include "platform/seal/open_file_hashing.hpp"
#include "platform/unique_fd.hpp"
#include "tests/support/temporary_folder.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillmark::platform {
namespace {

Sha256 sha256Of(const std::string& bytes)
{
    Sha256 digest {};
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr);
    return digest;
}

std::string patterned(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + i / 4096) & 0xff);
    return bytes;
}

struct HashCase {
    const char* name;
    std::size_t size;
    // The size the caller saw when it opened the file; the file has since
    // grown or shrunk where the two differ.
    std::size_t sizeWhenOpened;
};

class FileHasherTest : public ::testing::TestWithParam<HashCase> { };

// Files of one read and of many give the digest of their whole contents as
// they are when read, whatever size they had when they were opened.
TEST_P(FileHasherTest, GivesTheDigestOfTheWholeFile)
{
    testing::TemporaryFolder folder;
    auto bytes = patterned(GetParam().size);
    testing::writeFile(folder.path("file"), bytes);
    UniqueFd file(::open(folder.path("file").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(file);

    FileHasher hasher;
    Sha256 digest {};
    ASSERT_EQ(hasher.sha256(file.get(), GetParam().sizeWhenOpened, digest), 0);
    EXPECT_EQ(digest, sha256Of(bytes));
}

INSTANTIATE_TEST_SUITE_P(Sizes, FileHasherTest,
    ::testing::Values(HashCase { "Empty", 0, 0 }, HashCase { "OneByte", 1, 1 },
        HashCase { "OneBuffer", 128 << 10, 128 << 10 }, HashCase { "ManyBuffersAndABit", (17 << 20) + 3, (17 << 20) + 3 },
        HashCase { "GrewWithinTheFirstRead", 5000, 100 }, HashCase { "GrewPastTheFirstRead", 300'000, 100 },
        HashCase { "GrewFromOneBufferByABit", (128 << 10) + 5, 128 << 10 },
        HashCase { "ShrankToNothing", 0, 4096 }, HashCase { "Shrank", 100, 300'000 }),
    [](const auto& info) { return std::string(info.param.name); });

struct stat statusOf(const std::string& path)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        ADD_FAILURE() << "no file at " << path;
    return status;
}

// The digest `known` gives out for the file now at `path`.
std::optional<Sha256> knownDigestOf(const KnownDigests& known, const std::string& path)
{
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status {};
    if (!file || ::fstat(file.get(), &status) != 0) {
        ADD_FAILURE() << "no file at " << path;
        return std::nullopt;
    }
    return known.find(file.get(), status);
}

// Records `digest` for the file at `path` as read from `readBegan`.
void rememberDigestOf(KnownDigests& known, const std::string& path, const Sha256& digest, const timespec& readBegan)
{
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status {};
    if (!file || ::fstat(file.get(), &status) != 0) {
        ADD_FAILURE() << "no file at " << path;
        return;
    }
    known.remember(file.get(), status, digest, readBegan);
}

bool reached(const timespec& moment)
{
    auto now = KnownDigests::readBegins();
    return now.tv_sec > moment.tv_sec || (now.tv_sec == moment.tv_sec && now.tv_nsec >= moment.tv_nsec);
}

// Until a read that begins now may keep the digest of the file (polled
// with a generous deadline: the machine may be busy).
void waitUntilKept(const KnownDigests& known, const struct stat& status)
{
    auto from = known.keptFromReadsBeginning(status);
    ASSERT_TRUE(from) << "the volume was not measured";
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!reached(*from)) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the file clock did not advance";
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// Whatever another program does to a file after its digest was made, the
// digest is not given out for it again.
struct ChangeCase {
    const char* name;
    void (*change)(const std::string& path);
};

class KnownDigestsTest : public ::testing::TestWithParam<ChangeCase> { };

TEST_P(KnownDigestsTest, ADigestIsGivenOutOnlyForTheUnchangedFile)
{
    testing::TemporaryFolder folder;
    const auto path = folder.path("file");
    testing::writeFile(path, "sealed contents");
    KnownDigests known;
    known.measureVolumeOf(folder.path());
    waitUntilKept(known, statusOf(path));
    auto readBegan = KnownDigests::readBegins();
    rememberDigestOf(known, path, sha256Of("sealed contents"), readBegan);
    ASSERT_EQ(knownDigestOf(known, path), sha256Of("sealed contents"));

    GetParam().change(path);

    EXPECT_EQ(knownDigestOf(known, path), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Changes, KnownDigestsTest,
    ::testing::Values(
        ChangeCase { "RewrittenWithTheSameSizeAndTimes",
            [](const std::string& path) {
                auto before = statusOf(path);
                testing::writeFile(path, "Sealed contents");
                const struct timespec times[2] = { before.st_atim, before.st_mtim };
                ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
            } },
        ChangeCase { "MadeExecutable", [](const std::string& path) { ASSERT_EQ(::chmod(path.c_str(), 0755), 0); } },
        ChangeCase { "DeletedAndWrittenAgain",
            [](const std::string& path) {
                ASSERT_EQ(::unlink(path.c_str()), 0);
                testing::writeFile(path, "sealed contents");
            } }),
    [](const auto& info) { return std::string(info.param.name); });

// A file changed in the tick in which its reading began could change again
// in that tick without its change time moving: its digest is not kept.
TEST(KnownDigestsTest, ADigestReadInTheTickOfTheLastChangeIsNotKept)
{
    testing::TemporaryFolder folder;
    const auto path = folder.path("file");
    testing::writeFile(path, "sealed contents");
    auto status = statusOf(path);

    KnownDigests known;
    known.measureVolumeOf(folder.path());
    rememberDigestOf(known, path, sha256Of("sealed contents"), status.st_ctim);

    EXPECT_EQ(knownDigestOf(known, path), std::nullopt);
}

// Without the step of the volume's clock, nothing shows that a change made
// during the read would have moved the change time.
TEST(KnownDigestsTest, NoDigestIsKeptForAVolumeNotMeasured)
{
    testing::TemporaryFolder folder;
    const auto path = folder.path("file");
    testing::writeFile(path, "sealed contents");
    KnownDigests known;
    EXPECT_EQ(known.keptFromReadsBeginning(statusOf(path)), std::nullopt);

    auto status = statusOf(path);
    timespec muchLater = status.st_ctim;
    muchLater.tv_sec += 60;
    rememberDigestOf(known, path, sha256Of("sealed contents"), muchLater);

    EXPECT_EQ(knownDigestOf(known, path), std::nullopt);
}

} // namespace
} // namespace quillmark::platform
