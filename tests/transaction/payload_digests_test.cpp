// The digests made when the payload was loaded stand for the installation's
// own check of it only where nothing can have changed it since.

#include "tests/transaction/install_fixture.hpp"

#include "platform/seal/known_digests.hpp"
#include "tests/support/access_watch.hpp"

#include <algorithm>
#include <filesystem>

namespace quillmark::testing {
namespace {

namespace fs = std::filesystem;

const std::string changedText = "The application failed its integrity check: The file \u201CContents/Resources/About.txt\u201D "
                                "was changed after the application was sealed. Download a fresh installer.";

class PayloadDigestsTest : public InstallFixture {
protected:
    // The payload on a disk image of its own, mounted read-only at "Disk".
    bool loadFromDiskImage(const std::string& image, std::string& whyNot)
    {
        makeFolder(folder.path("Disk"));
        disk = ScopedMount::diskImage(folder.path("Disk"), folder.path("Image"), folder.path(image), whyNot);
        if (!disk)
            return false;
        payload = engine->verifiedPayload(platform::FileURL(folder.path("Disk/Quillmark.app"), true), loaded);
        return true;
    }

    void installWithLoadedDigests()
    {
        try {
            result = engine->install(payload, reviewedLocation(), callbacks, loaded);
        } catch (...) {
            error = std::current_exception();
        }
    }

    platform::KnownDigests loaded;
    std::unique_ptr<ScopedMount> disk;
};

TEST_F(PayloadDigestsTest, FilesOfAPayloadOnADiskImageAreNotReadAgain)
{
    writeBundle(folder.path("Image/Quillmark.app"));
    std::string whyNot;
    if (!loadFromDiskImage("payload.squashfs", whyNot))
        GTEST_SKIP() << whyNot;
    AccessWatch watch(payload.url.path(), AccessWatch::Events::readOnly);
    std::vector<std::string> readByThePayloadCheck;
    // The root is prepared right after the payload's check and before the copy.
    files->before(FileOperation::createDirectory, pathIs(root.path()), [&] {
        for (const auto& path : watch.accessed()) {
            if (fs::is_regular_file(path))
                readByThePayloadCheck.push_back(path.substr(payload.url.path().size() + 1));
        }
    });

    installWithLoadedDigests();

    ASSERT_TRUE(result) << errorText();
    std::sort(readByThePayloadCheck.begin(), readByThePayloadCheck.end());
    readByThePayloadCheck.erase(std::unique(readByThePayloadCheck.begin(), readByThePayloadCheck.end()),
        readByThePayloadCheck.end());
    EXPECT_EQ(readByThePayloadCheck,
        (std::vector<std::string> { "Contents/Info.plist", "Contents/_CodeSignature/Seal.plist",
            "Contents/_CodeSignature/Seal.sig" }))
        << "only the property list and the seal are read again";
}

// On a volume that can be written, a file may change unseen: every file is read again.
TEST_F(PayloadDigestsTest, PayloadChangedOnAWritableVolumeIsRefused)
{
    payload = engine->verifiedPayload(payload.url, loaded);
    alterKeepingSizeAndTimes(payload.url);

    installWithLoadedDigests();

    EXPECT_EQ(errorText(), changedText);
    EXPECT_TRUE(stagingFolders().empty());
}

// Another image mounted in place of the loaded one may give its files the
// same numbers and times; it is another mount, and its files are read.
TEST_F(PayloadDigestsTest, PayloadOnAnotherDiskImageMountedInItsPlaceIsRefused)
{
    writeBundle(folder.path("Image/Quillmark.app"));
    std::string whyNot;
    if (!loadFromDiskImage("payload.squashfs", whyNot))
        GTEST_SKIP() << whyNot;
    disk.reset();
    alterKeepingSizeAndTimes(platform::FileURL(folder.path("Image/Quillmark.app"), true));
    disk = ScopedMount::diskImage(folder.path("Disk"), folder.path("Image"), folder.path("other.squashfs"), whyNot);
    ASSERT_TRUE(disk) << whyNot;

    installWithLoadedDigests();

    EXPECT_EQ(errorText(), changedText);
    EXPECT_TRUE(stagingFolders().empty());
}

} // namespace
} // namespace quillmark::testing
