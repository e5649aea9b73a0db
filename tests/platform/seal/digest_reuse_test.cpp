// When a digest made by an earlier check may stand for a file in a later
// one: on volumes that keep times to the nanosecond, in whole seconds, and
// in memory, and with another program holding the file mapped for writing.

#include "platform/seal/code_seal.hpp"
#include "platform/seal/known_digests.hpp"
#include "platform/seal/seal_manifest.hpp"
#include "platform/seal/timestamp_granularity.hpp"
#include "platform/unique_fd.hpp"
#include "tests/support/access_watch.hpp"
#include "tests/support/bundle_builder.hpp"
#include "tests/support/scoped_mount.hpp"
#include "tests/support/sealing.hpp"
#include "tests/support/shared_mapping.hpp"
#include "tests/support/temporary_folder.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>

namespace quillmark::platform {
namespace {

namespace fs = std::filesystem;

enum class VolumeKind { nanosecondExt4, wholeSecondExt4, tmpfs };

const char* nameOf(VolumeKind kind)
{
    switch (kind) {
    case VolumeKind::nanosecondExt4:
        return "NanosecondExt4";
    case VolumeKind::wholeSecondExt4:
        return "WholeSecondExt4";
    case VolumeKind::tmpfs:
        return "Tmpfs";
    }
    return "?";
}

// A new volume of one kind, mounted in a temporary folder for one test.
class ScratchVolume {
public:
    ScratchVolume(VolumeKind kind, std::string& whyNot)
    {
        testing::makeFolder(path());
        switch (kind) {
        case VolumeKind::nanosecondExt4:
            mount_ = testing::ScopedMount::freshExt4(path(), folder_.path("volume.ext4"), 32 << 20, whyNot, 256);
            break;
        case VolumeKind::wholeSecondExt4:
            mount_ = testing::ScopedMount::freshExt4(path(), folder_.path("volume.ext4"), 32 << 20, whyNot, 128);
            break;
        case VolumeKind::tmpfs:
            mount_ = testing::ScopedMount::sizeLimitedTmpfs(path(), 32 << 20, whyNot);
            break;
        }
    }

    bool mounted() const { return mount_ != nullptr; }
    std::string path(std::string_view relative = {}) const
    {
        return folder_.path("mounted") + (relative.empty() ? "" : "/" + std::string(relative));
    }

private:
    testing::TemporaryFolder folder_;
    std::unique_ptr<testing::ScopedMount> mount_;
};

struct Outcome {
    SealStatus status;
    std::string text;
};

Outcome checkWith(const FileURL& bundle, KnownDigests& known)
{
    std::unique_ptr<StaticCode> code;
    std::unique_ptr<CodeRequirement> requirement;
    if (createStaticCode(bundle, sealFlags::defaults, code) != sealStatus::success)
        return { sealStatus::bundleUnreadable, "" };
    createRequirement("identifier \"app.quillmark.viewer\"", sealFlags::defaults, requirement);
    auto status = checkValidity(*code, sealFlags::strictValidate, requirement.get(), &known);
    return { status, copyErrorMessage(status, code.get()).value_or("") };
}

// Waits, on the clock that stamps files, until a read that begins then may
// keep the digests of every file of the bundle (a step of the volume's
// clock after the last change). Generous: the machine may be busy.
void waitUntilDigestsCanBeKept(const std::string& bundle, const KnownDigests& known)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    auto kept = [&] {
        auto now = KnownDigests::readBegins();
        for (const auto& entry : fs::recursive_directory_iterator(bundle)) {
            struct stat status {};
            if (!entry.is_regular_file() || ::lstat(entry.path().c_str(), &status) != 0)
                continue;
            auto from = known.keptFromReadsBeginning(status);
            if (!from)
                ADD_FAILURE() << "no digest of " << entry.path() << " would ever be kept";
            if (!from || from->tv_sec > now.tv_sec || (from->tv_sec == now.tv_sec && from->tv_nsec > now.tv_nsec))
                return false;
        }
        return true;
    };
    while (!kept() && !::testing::Test::HasFailure()) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the file clock did not advance";
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

class VolumeTest : public ::testing::TestWithParam<VolumeKind> { };

TEST_P(VolumeTest, TimestampGranularityIsWhatTheVolumeKeeps)
{
    std::string whyNot;
    ScratchVolume volume(GetParam(), whyNot);
    if (!volume.mounted())
        GTEST_SKIP() << whyNot;
    UniqueFd folder(::open(volume.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(folder);

    auto granularity = timestampGranularity(folder.get());

    ASSERT_TRUE(granularity);
    EXPECT_EQ(*granularity, GetParam() == VolumeKind::wholeSecondExt4 ? 1'000'000'000 : 1);
    for (const auto& entry : fs::directory_iterator(volume.path()))
        EXPECT_EQ(entry.path().filename(), "lost+found") << "the probe stayed";
}

// What makes the check of a copy cheap: a file unchanged since the last
// check is not read again. A store that never gave a digest out would fail.
TEST_P(VolumeTest, AnUnchangedFileIsNotReadAgain)
{
    std::string whyNot;
    ScratchVolume volume(GetParam(), whyNot);
    if (!volume.mounted())
        GTEST_SKIP() << whyNot;
    auto bundle = testing::BundleBuilder().write(volume.path("Quillmark.app"));
    testing::sealBundle(bundle);
    KnownDigests known;
    known.measureVolumeOf(volume.path());
    waitUntilDigestsCanBeKept(bundle.path(), known);
    ASSERT_EQ(checkWith(bundle, known).status, sealStatus::success);

    testing::AccessWatch watch(bundle.path(), testing::AccessWatch::Events::readOnly);
    ASSERT_EQ(checkWith(bundle, known).status, sealStatus::success);

    // Listing a folder counts as reading it; only files matter here.
    auto read = watch.accessed();
    std::erase_if(read, [](const std::string& path) { return !fs::is_regular_file(path); });
    std::sort(read.begin(), read.end());
    read.erase(std::unique(read.begin(), read.end()), read.end());
    EXPECT_EQ(read, (std::vector<std::string> { bundle.path() + "/" + std::string(sealManifestPath),
                        bundle.path() + "/" + std::string(sealSignaturePath) }))
        << "only the seal itself is read again";
}

INSTANTIATE_TEST_SUITE_P(Volumes, VolumeTest,
    ::testing::Values(VolumeKind::nanosecondExt4, VolumeKind::wholeSecondExt4, VolumeKind::tmpfs),
    [](const auto& info) { return std::string(nameOf(info.param)); });

enum class Alteration { writtenKeepingSizeAndTimes, throughAMappingMadeBeforeTheCheck };
enum class FirstCheck { inTheStepOfTheLastChange, aStepLater };

struct AlterationCase {
    VolumeKind volume;
    Alteration alteration;
    FirstCheck firstCheck;
};

std::string nameOf(const AlterationCase& row)
{
    return std::string(nameOf(row.volume))
        + (row.alteration == Alteration::writtenKeepingSizeAndTimes ? "WrittenKeepingSizeAndTimes" : "ThroughAMapping")
        + (row.firstCheck == FirstCheck::inTheStepOfTheLastChange ? "CheckedInTheStepOfTheChange" : "CheckedAStepLater");
}

class AlteredFileTest : public ::testing::TestWithParam<AlterationCase> { };

// A file altered after one check is caught by the next, however the
// alteration hides from the file's times.
TEST_P(AlteredFileTest, IsReadAgainAndCaught)
{
    const auto& row = GetParam();
    std::string whyNot;
    ScratchVolume volume(row.volume, whyNot);
    if (!volume.mounted())
        GTEST_SKIP() << whyNot;
    auto bundle = testing::BundleBuilder().write(volume.path("Quillmark.app"));
    testing::sealBundle(bundle);
    const auto file = bundle.path() + "/Contents/Resources/About.txt";
    std::unique_ptr<testing::SharedWritableMapping> mapping;
    if (row.alteration == Alteration::throughAMappingMadeBeforeTheCheck)
        mapping = std::make_unique<testing::SharedWritableMapping>(file);
    KnownDigests known;
    known.measureVolumeOf(volume.path());
    if (row.firstCheck == FirstCheck::aStepLater)
        waitUntilDigestsCanBeKept(bundle.path(), known);
    ASSERT_EQ(checkWith(bundle, known).status, sealStatus::success);

    if (mapping) {
        mapping->alterFirstByte();
    } else {
        struct stat before {};
        ASSERT_EQ(::stat(file.c_str(), &before), 0);
        auto contents = testing::readFile(file);
        contents[0] = contents[0] == 'X' ? 'Y' : 'X';
        std::fstream(file, std::ios::in | std::ios::out | std::ios::binary) << contents;
        const struct timespec times[2] = { before.st_atim, before.st_mtim };
        ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    }
    auto outcome = checkWith(bundle, known);

    EXPECT_EQ(outcome.status, sealStatus::fileChanged);
    EXPECT_EQ(outcome.text,
        "The file \u201CContents/Resources/About.txt\u201D was changed after the application was sealed.");
}

std::vector<AlterationCase> alterationCases()
{
    std::vector<AlterationCase> rows;
    for (auto volume : { VolumeKind::nanosecondExt4, VolumeKind::wholeSecondExt4, VolumeKind::tmpfs })
        for (auto alteration : { Alteration::writtenKeepingSizeAndTimes, Alteration::throughAMappingMadeBeforeTheCheck })
            for (auto firstCheck : { FirstCheck::inTheStepOfTheLastChange, FirstCheck::aStepLater })
                rows.push_back({ volume, alteration, firstCheck });
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Volumes, AlteredFileTest, ::testing::ValuesIn(alterationCases()),
    [](const auto& info) { return nameOf(info.param); });

// Who may still write the file when its reading begins.
struct WriterCase {
    const char* name;
    bool mayKeep;
    // Leaves what holds the file in `held` for as long as the check runs.
    void (*hold)(const std::string& path, std::vector<std::shared_ptr<void>>& held);
};

class WriterTest : public ::testing::TestWithParam<WriterCase> { };

TEST_P(WriterTest, ADigestIsKeptOnlyWhenNobodyCanWriteUnseen)
{
    testing::TemporaryFolder folder;
    const auto path = folder.path("file");
    testing::writeFile(path, "sealed contents");
    std::vector<std::shared_ptr<void>> held;
    GetParam().hold(path, held);
    UniqueFd reading(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(reading);

    EXPECT_EQ(KnownDigests().mayKeepReadOf(reading.get()), GetParam().mayKeep);
    // The lease is given back: a writer that comes now is not held up.
    UniqueFd writer(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    EXPECT_TRUE(writer) << std::strerror(errno);
}

std::shared_ptr<void> heldDescriptor(int fd)
{
    return std::shared_ptr<void>(new int(fd), [](void* held) {
        ::close(*static_cast<int*>(held));
        delete static_cast<int*>(held);
    });
}

INSTANTIATE_TEST_SUITE_P(Holders, WriterTest,
    ::testing::Values(WriterCase { "Nobody", true, [](const std::string&, auto&) {} },
        WriterCase { "AnotherReader", true,
            [](const std::string& path, auto& held) { held.push_back(heldDescriptor(::open(path.c_str(), O_RDONLY))); } },
        WriterCase { "OpenForWriting", false,
            [](const std::string& path, auto& held) { held.push_back(heldDescriptor(::open(path.c_str(), O_RDWR))); } },
        WriterCase { "MappedSharedAndWritableThoughClosed", false,
            [](const std::string& path, auto& held) {
                held.push_back(std::make_shared<testing::SharedWritableMapping>(path));
            } }),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quillmark::platform
