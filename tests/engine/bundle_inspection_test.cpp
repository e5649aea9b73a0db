#include "engine/installer_engine.hpp"

#include "platform/error.hpp"
#include "tests/support/bundle_builder.hpp"
#include "tests/support/temporary_folder.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sys/stat.h>

namespace quillmark {
namespace {

using platform::PropertyListValue;
using testing::BundleBuilder;
using testing::PropertyListFormat;

constexpr const char* notABundle = "The application is missing, is a link, or is not an application folder.";
constexpr const char* notTheViewer = "This application is not a valid Quillmark viewer bundle.";
constexpr const char* badRelease = "The application release metadata is invalid.";

// The outcome of metadata() as text: the identity's fields, or the message
// of an InstallerFailure, or the domain of any other error.
std::string outcome(const InstallerEngine& engine, const platform::FileURL& bundle)
{
    try {
        auto identity = engine.metadata(bundle);
        return "version " + identity.version + " build " + identity.build + " release " + identity.releaseVersion;
    } catch (const InstallerFailure& failure) {
        return failure.message();
    } catch (const platform::Error& error) {
        return "platform error in " + error.domain() + ": " + error.description();
    }
}

class BundleInspectionTest : public ::testing::Test {
protected:
    std::string bundlePath(std::string_view name = "Quillmark.app") const { return folder.path(name); }

    testing::TemporaryFolder folder;
    InstallerEngine engine { { folder.url() } };
};

TEST_F(BundleInspectionTest, PropertyListKeysAndFormats)
{
    struct Case {
        const char* name;
        std::function<void(BundleBuilder&)> change;
        std::string expected;
    };
    const Case cases[] = {
        { "valid", [](BundleBuilder&) {}, "version 2.0 build 10 release 2.0" },
        { "binary property list", [](BundleBuilder& b) { b.format(PropertyListFormat::binary); }, "version 2.0 build 10 release 2.0" },
        { "identifier in other case", [](BundleBuilder& b) { b.set("CFBundleIdentifier", "app.Quillmark.viewer"); }, notTheViewer },
        { "identifier missing", [](BundleBuilder& b) { b.remove("CFBundleIdentifier"); }, notTheViewer },
        { "identifier not a string", [](BundleBuilder& b) { b.setValue("CFBundleIdentifier", PropertyListValue::makeInteger(1)); }, notTheViewer },
        { "package type", [](BundleBuilder& b) { b.set("CFBundlePackageType", "FMWK"); }, notTheViewer },
        { "package type missing", [](BundleBuilder& b) { b.remove("CFBundlePackageType"); }, notTheViewer },
        { "executable name", [](BundleBuilder& b) { b.set("CFBundleExecutable", "Quillmark "); }, notTheViewer },
        { "version missing", [](BundleBuilder& b) { b.remove("CFBundleShortVersionString"); }, notTheViewer },
        { "build missing", [](BundleBuilder& b) { b.remove("CFBundleVersion"); }, notTheViewer },
        { "build a number", [](BundleBuilder& b) { b.setValue("CFBundleVersion", PropertyListValue::makeInteger(10)); }, notTheViewer },
        { "version of one number", [](BundleBuilder& b) { b.version("1"); }, notTheViewer },
        { "version of three numbers", [](BundleBuilder& b) { b.version("1.2.3"); }, "version 1.2.3 build 10 release 1.2.3" },
        { "version of four numbers", [](BundleBuilder& b) { b.version("1.2.3.4"); }, notTheViewer },
        { "version with a letter", [](BundleBuilder& b) { b.version("1.2a"); }, notTheViewer },
        { "version with a leading letter", [](BundleBuilder& b) { b.version("v1.2"); }, notTheViewer },
        { "version with a newline", [](BundleBuilder& b) { b.version("1.2\n"); }, notTheViewer },
        { "version of a million digits", [](BundleBuilder& b) { b.version(std::string(1'000'000, '1') + ".0"); }, notTheViewer },
        { "release of a million characters", [](BundleBuilder& b) { b.releaseVersion("2.0.0-" + std::string(1'000'000, 'a')); }, badRelease },
        { "build of one number", [](BundleBuilder& b) { b.build("7"); }, "version 2.0 build 7 release 2.0" },
        { "build of three numbers", [](BundleBuilder& b) { b.build("1.2.3"); }, "version 2.0 build 1.2.3 release 2.0" },
        { "build of four numbers", [](BundleBuilder& b) { b.build("1.2.3.4"); }, notTheViewer },
        { "empty build", [](BundleBuilder& b) { b.build(""); }, notTheViewer },
        { "release with pre-release and metadata", [](BundleBuilder& b) { b.releaseVersion("2.0.0-rc.1+build.7"); }, "version 2.0 build 10 release 2.0.0-rc.1+build.7" },
        { "release of another version", [](BundleBuilder& b) { b.releaseVersion("2.1.0"); }, badRelease },
        { "release of one number", [](BundleBuilder& b) { b.releaseVersion("2"); }, badRelease },
        { "release with a bare hyphen", [](BundleBuilder& b) { b.releaseVersion("2.0-"); }, badRelease },
        { "release with leading zeros", [](BundleBuilder& b) { b.releaseVersion("02.00.0"); }, "version 2.0 build 10 release 02.00.0" },
        { "release not a string", [](BundleBuilder& b) { b.setValue("QuillmarkReleaseVersion", PropertyListValue::makeInteger(3)); }, "version 2.0 build 10 release 2.0" },
        { "version check before release check", [](BundleBuilder& b) { b.version("1").releaseVersion("x"); }, notTheViewer },
        { "top level is an array", [](BundleBuilder& b) { b.rawInfo(platform::xmlPropertyList(PropertyListValue::makeArray({}))); }, notTheViewer },
        { "top level is a string", [](BundleBuilder& b) { b.rawInfo(platform::binaryPropertyList(PropertyListValue::makeString("app.quillmark.viewer"))); }, notTheViewer },
    };
    for (const auto& c : cases) {
        auto path = bundlePath(std::string(c.name) + "/Quillmark.app");
        BundleBuilder builder;
        c.change(builder);
        EXPECT_EQ(outcome(engine, builder.write(path)), c.expected) << c.name;
    }
}

TEST_F(BundleInspectionTest, IdentityKeepsTheURLAsPassed)
{
    BundleBuilder().write(bundlePath());
    platform::FileURL unstandardized(folder.path("./Quillmark.app"), true);
    EXPECT_EQ(engine.metadata(unstandardized).url, unstandardized);
}

TEST_F(BundleInspectionTest, LinksAndMissingPieces)
{
    auto real = BundleBuilder().write(bundlePath("Real.app"));
    struct Case {
        const char* name;
        std::function<void(const std::string& bundle)> make;
        std::string expected;
    };
    const Case cases[] = {
        { "bundle is a link", [&](const std::string& b) { testing::makeLink(real.path(), b); }, notABundle },
        { "bundle is a file", [](const std::string& b) { testing::writeFile(b, "not a folder"); }, notABundle },
        { "nothing there", [](const std::string&) {}, notABundle },
        { "Contents is a link",
            [&](const std::string& b) {
                testing::makeFolder(b);
                testing::makeLink(real.path() + "/Contents", b + "/Contents");
            },
            notTheViewer },
        { "Info.plist is a link",
            [&](const std::string& b) {
                BundleBuilder().withoutInfo().write(b);
                testing::makeLink(real.path() + "/Contents/Info.plist", b + "/Contents/Info.plist");
            },
            notTheViewer },
    };
    for (const auto& c : cases) {
        auto path = folder.path(std::string(c.name) + "/Quillmark.app");
        testing::makeFolder(folder.path(c.name));
        c.make(path);
        EXPECT_EQ(outcome(engine, platform::FileURL(path, true)), c.expected) << c.name;
    }
}

TEST_F(BundleInspectionTest, ReadAndParseErrorsPassThroughUnchanged)
{
    auto missing = BundleBuilder().withoutInfo().write(bundlePath("missing/Quillmark.app"));
    try {
        engine.metadata(missing);
        FAIL() << "no error";
    } catch (const InstallerFailure& failure) {
        FAIL() << "wrapped as a failure: " << failure.message();
    } catch (const platform::Error& error) {
        EXPECT_EQ(error.domain(), platform::fileErrorDomain);
        EXPECT_EQ(error.code(), platform::fileErrorCode::noSuchFile);
        EXPECT_NE(error.description().find(missing.path() + "/Contents/Info.plist"), std::string::npos) << error.description();
    }

    auto garbled = BundleBuilder().rawInfo("<plist><dict><key>CFBundleIdentifier</key>").write(bundlePath("garbled/Quillmark.app"));
    try {
        engine.metadata(garbled);
        FAIL() << "no error";
    } catch (const InstallerFailure& failure) {
        FAIL() << "wrapped as a failure: " << failure.message();
    } catch (const platform::Error& error) {
        EXPECT_EQ(error.domain(), platform::propertyListErrorDomain);
    }
}

TEST_F(BundleInspectionTest, IsLinkReadsTheItemItself)
{
    testing::writeFile(folder.path("file"), "x");
    testing::makeLink("file", folder.path("link"));
    testing::makeLink("missing", folder.path("dangling"));
    EXPECT_TRUE(engine.isLink(platform::FileURL(folder.path("link"))));
    EXPECT_TRUE(engine.isLink(platform::FileURL(folder.path("dangling"))));
    EXPECT_FALSE(engine.isLink(platform::FileURL(folder.path("file"))));
    EXPECT_FALSE(engine.isLink(platform::FileURL(folder.path("missing"))));
}

// "{device}|{inode}", then what tells the object from later ones that get
// the same inode number, where the file system can say.
bool beginsWithDeviceAndInode(const std::string& identity, const std::string& path)
{
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0)
        return false;
    auto numbers = std::to_string(status.st_dev) + "|" + std::to_string(status.st_ino);
    return identity == numbers || identity.starts_with(numbers + "|");
}

TEST_F(BundleInspectionTest, ObjectIdentityNamesTheObjectAtThePath)
{
    testing::writeFile(folder.path("item"), "first");
    platform::FileURL item(folder.path("item"));
    auto before = engine.objectIdentity(item);
    EXPECT_EQ(engine.objectIdentity(item), before);
    EXPECT_TRUE(beginsWithDeviceAndInode(before, item.path())) << before;

    // Keep the first file alive elsewhere so that its inode cannot be reused.
    std::filesystem::rename(item.path(), folder.path("kept"));
    EXPECT_EQ(engine.objectIdentity(platform::FileURL(folder.path("kept"))), before) << "a rename keeps the object";
    testing::writeFile(item.path(), "second");
    EXPECT_TRUE(beginsWithDeviceAndInode(engine.objectIdentity(item), item.path()));
    EXPECT_NE(engine.objectIdentity(item), before);

    EXPECT_THROW(engine.objectIdentity(platform::FileURL(folder.path("missing"))), platform::Error);
}

// Deleted for good, the object's inode number is free for the next item,
// which many file systems hand out at once: the identity still differs.
TEST_F(BundleInspectionTest, ObjectIdentityOfALaterItemDiffersEvenWithTheSameInodeNumber)
{
    platform::FileURL item(folder.path("item"));
    for (int round = 0; round < 8; ++round) {
        testing::writeFile(item.path(), "first");
        auto before = engine.objectIdentity(item);
        std::filesystem::remove(item.path());
        testing::writeFile(item.path(), "second");
        EXPECT_NE(engine.objectIdentity(item), before);
        std::filesystem::remove(item.path());
    }
}

} // namespace
} // namespace quillmark
