#include "platform/error.hpp"
#include "platform/files/system_file_manager.hpp"
#include "tests/support/temporary_folder.hpp"
#include "tests/support/tree_snapshot.hpp"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

namespace quillmark::platform {
namespace {

// A tree with everything an application bundle may hold: nested folders,
// links (relative, absolute, dangling, to a folder), files from empty to
// several megabytes, unusual permission bits, extended attributes on files
// and folders, and old timestamps.
void writeOddTree(const std::string& root)
{
    testing::writeFile(root + "/Contents/Info.plist", "<plist/>", 0644);
    testing::writeFile(root + "/Contents/MacOS/Quillmark", "#!/bin/sh\nexit 0\n", 0751);
    testing::writeFile(root + "/Contents/Resources/empty", "", 0400);
    testing::writeFile(root + "/Contents/Resources/large.bin", std::string(3 * 1024 * 1024 + 17, 'q'), 0604);
    testing::writeFile(root + "/Contents/Resources/Deep/Deeper/note.txt", "deep", 0640);
    testing::makeLink("../Resources/large.bin", root + "/Contents/MacOS/large-link");
    testing::makeLink("Deep/Deeper", root + "/Contents/Resources/folder-link");
    testing::makeLink("/nonexistent/elsewhere", root + "/Contents/Resources/dangling");
    testing::makeFolder(root + "/Contents/Empty");
    testing::makeFolder(root + "/Contents/Shared");

    ASSERT_EQ(::chmod((root + "/Contents/Empty").c_str(), 0555), 0);
    ASSERT_EQ(::chmod((root + "/Contents/Shared").c_str(), 01777), 0);
    ASSERT_EQ(::chmod((root + "/Contents/Resources/Deep").c_str(), 0711), 0);

    testing::setExtendedAttribute(root + "/Contents/MacOS/Quillmark", "user.quarantine", "none");
    testing::setExtendedAttribute(root + "/Contents/Resources/large.bin", "user.origin", std::string("\0binary\xff", 8));
    testing::setExtendedAttribute(root + "/Contents/Resources", "user.folder-note", "kept");

    long long second = 1'500'000'000;
    for (const char* relative : { "/Contents/Resources/Deep/Deeper/note.txt", "/Contents/Resources/Deep/Deeper",
             "/Contents/Resources/folder-link", "/Contents/MacOS/large-link", "/Contents/Resources/large.bin",
             "/Contents/Resources/Deep", "/Contents/Resources", "/Contents/Empty", "/Contents/MacOS", "/Contents", "" })
        testing::setTimes(root + relative, second++, 123456789);
}

class CopyItemTest : public ::testing::Test {
protected:
    testing::TemporaryFolder folder;
    SystemFileManager manager;
};

TEST_F(CopyItemTest, CopiesATreeItemByItem)
{
    writeOddTree(folder.path("Source.app"));
    auto before = testing::snapshotTree(folder.path("Source.app"));

    manager.copyItem(FileURL(folder.path("Source.app")), FileURL(folder.path("Copy.app")));

    auto copy = testing::snapshotTree(folder.path("Copy.app"));
    ASSERT_EQ(copy.size(), before.size());
    for (const auto& [relative, item] : before)
        EXPECT_EQ(copy[relative], item) << "at \"" << relative << "\"";
}

// Whoever hears of a copied file may read it and show that nobody can
// change it unseen meanwhile, which a read lease proves; the copy's own
// descriptor for writing would deny the lease.
TEST_F(CopyItemTest, TellsOfEachFileOnlyOnceItNoLongerHoldsItForWriting)
{
    writeOddTree(folder.path("Source.app"));
    std::vector<std::string> told;
    std::vector<std::string> stillHeld;

    manager.copyItem(FileURL(folder.path("Source.app")), FileURL(folder.path("Copy.app")), [&](const std::string& path) {
        told.push_back(path);
        UniqueFd reading(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!reading || ::fcntl(reading.get(), F_SETLEASE, F_RDLCK) != 0)
            stillHeld.push_back(path);
        else
            ::fcntl(reading.get(), F_SETLEASE, F_UNLCK);
    });

    EXPECT_EQ(told.size(), 5u);
    EXPECT_TRUE(stillHeld.empty()) << stillHeld.size() << " files were still open for writing, the first "
                                   << (stillHeld.empty() ? "" : stillHeld.front());
}

TEST_F(CopyItemTest, CopiesToAnotherVolumeThroughPlainReads)
{
    // /dev/shm is a tmpfs, so the kernel cannot copy between it and the
    // temporary folder's volume and the copy must read and write itself.
    struct stat here {}, there {};
    ASSERT_EQ(::stat(folder.path().c_str(), &here), 0);
    if (::stat("/dev/shm", &there) != 0 || here.st_dev == there.st_dev)
        GTEST_SKIP() << "/dev/shm is missing or on the same volume as the temporary folder";
    writeOddTree(folder.path("Source.app"));
    std::string target = "/dev/shm/quillmark-copy-test-" + std::to_string(::getpid());
    std::filesystem::remove_all(target);

    manager.copyItem(FileURL(folder.path("Source.app")), FileURL(target));

    auto copy = testing::snapshotTree(target);
    auto source = testing::snapshotTree(folder.path("Source.app"));
    std::filesystem::remove_all(target);
    EXPECT_EQ(copy, source);
}

TEST_F(CopyItemTest, DropsSetIdBitsButKeepsTheRest)
{
    testing::writeFile(folder.path("Source/tool"), "x", 06755);
    ASSERT_EQ(::chmod(folder.path("Source/tool").c_str(), 06755), 0);

    manager.copyItem(FileURL(folder.path("Source")), FileURL(folder.path("Copy")));

    struct stat status {};
    ASSERT_EQ(::stat(folder.path("Copy/tool").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0755u);
}

TEST_F(CopyItemTest, CopiesALinkAsALink)
{
    testing::writeFile(folder.path("target"), "t");
    testing::makeLink("target", folder.path("link"));

    manager.copyItem(FileURL(folder.path("link")), FileURL(folder.path("copy")));

    EXPECT_TRUE(std::filesystem::is_symlink(folder.path("copy")));
    EXPECT_EQ(std::filesystem::read_symlink(folder.path("copy")), "target");
}

TEST_F(CopyItemTest, NeverReplacesAnExistingTarget)
{
    testing::writeFile(folder.path("Source/file"), "new");
    testing::writeFile(folder.path("Copy/file"), "old");

    try {
        manager.copyItem(FileURL(folder.path("Source")), FileURL(folder.path("Copy")));
        FAIL() << "no error";
    } catch (const Error& error) {
        EXPECT_EQ(error.domain(), fileErrorDomain);
        EXPECT_EQ(error.code(), fileErrorCode::writeFileExists);
        EXPECT_NE(error.description().find(folder.path("Copy")), std::string::npos) << error.description();
        ASSERT_TRUE(error.underlying());
        EXPECT_EQ(error.underlying()->domain(), posixErrorDomain);
        EXPECT_EQ(error.underlying()->code(), EEXIST);
    }
    EXPECT_EQ(testing::readFile(folder.path("Copy/file")), "old");
}

TEST_F(CopyItemTest, MissingSourceIsANoSuchFileError)
{
    try {
        manager.copyItem(FileURL(folder.path("Missing")), FileURL(folder.path("Copy")));
        FAIL() << "no error";
    } catch (const Error& error) {
        EXPECT_EQ(error.code(), fileErrorCode::noSuchFile);
        EXPECT_NE(error.description().find(folder.path("Missing")), std::string::npos) << error.description();
    }
    EXPECT_FALSE(std::filesystem::exists(folder.path("Copy")));
}

struct SpecialItem {
    const char* name;
    void (*make)(const std::string& path);
};

void PrintTo(const SpecialItem& row, std::ostream* stream)
{
    *stream << row.name;
}

void makeFifo(const std::string& path)
{
    ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
}

void makeSocket(const std::string& path)
{
    int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::copy(path.begin(), path.end(), address.sun_path);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(sock);
}

void makeDevice(const std::string& path)
{
    // The same device as /dev/zero: copying it by reading would never end.
    ASSERT_EQ(::mknod(path.c_str(), S_IFCHR | 0644, ::makedev(1, 5)), 0) << "creating devices needs root";
}

class CopyItemRefusalTest : public CopyItemTest, public ::testing::WithParamInterface<SpecialItem> { };

TEST_P(CopyItemRefusalTest, RefusesOtherKindsAndLeavesNothingBehind)
{
    // Some items are copied before the walk reaches the special one.
    testing::writeFile(folder.path("Source.app/Contents/A/first"), "1");
    testing::makeFolder(folder.path("Source.app/Contents/Z"));
    std::string special = folder.path("Source.app/Contents/Z/special");
    GetParam().make(special);

    try {
        manager.copyItem(FileURL(folder.path("Source.app")), FileURL(folder.path("Copy.app")));
        FAIL() << "no error";
    } catch (const Error& error) {
        EXPECT_EQ(error.domain(), fileErrorDomain);
        EXPECT_EQ(error.description(),
            "Could not copy \u201C" + special + "\u201D because it is not a file, a folder or a symbolic link.");
    }
    EXPECT_FALSE(std::filesystem::exists(folder.path("Copy.app")));
}

INSTANTIATE_TEST_SUITE_P(Kinds, CopyItemRefusalTest,
    ::testing::Values(SpecialItem { "Fifo", makeFifo }, SpecialItem { "Socket", makeSocket },
        SpecialItem { "Device", makeDevice }),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quillmark::platform
