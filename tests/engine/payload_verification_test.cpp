#include "engine/installer_engine.hpp"

#include "platform/seal/code_signing.hpp"
#include "platform/error.hpp"
#include "platform/files/system_file_manager.hpp"
#include "tests/support/bundle_builder.hpp"
#include "tests/support/sealing.hpp"
#include "tests/support/temporary_folder.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace quillmark {
namespace {

using testing::BundleBuilder;
using testing::makeFolder;
using testing::makeLink;
using testing::readFile;
using testing::sealBundle;
using testing::writeFile;

constexpr const char* executableMessage = "The Quillmark application executable is missing or invalid.";
constexpr const char* unreadableMessage = "The application code signature could not be read. Download a fresh installer.";
constexpr const char* notTheViewer = "This application is not a valid Quillmark viewer bundle.";

std::string integrity(std::string_view reason)
{
    return "The application failed its integrity check: " + std::string(reason) + " Download a fresh installer.";
}

std::string outcome(const InstallerEngine& engine, const platform::FileURL& bundle)
{
    try {
        auto identity = engine.verifiedPayload(bundle);
        return "valid " + identity.version + " " + identity.build + " " + identity.releaseVersion;
    } catch (const InstallerFailure& failure) {
        return failure.message();
    } catch (const platform::Error& error) {
        return "platform error in " + error.domain() + ": " + error.description();
    }
}

class PayloadVerificationTest : public ::testing::Test {
public:
    std::string path(std::string_view relative = {}) const
    {
        return relative.empty() ? bundle.path() : bundle.path() + "/" + std::string(relative);
    }

    // A viewer bundle with the shapes a real one has: resources in nested
    // folders, a helper tool, a framework with its version links.
    platform::FileURL writeFixture(BundleBuilder builder = {})
    {
        builder.write(bundle.path());
        writeFile(path("Contents/Resources/Help/index.html"), "<p>Help</p>\n");
        writeFile(path("Contents/MacOS/helper"), "#!/bin/sh\nexit 0\n", 0755);
        writeFile(path("Contents/Frameworks/Render.framework/Versions/A/Render"), "render library\n", 0755);
        makeLink("A", path("Contents/Frameworks/Render.framework/Versions/Current"));
        makeLink("Versions/Current/Render", path("Contents/Frameworks/Render.framework/Render"));
        makeLink("Help", path("Contents/Resources/Current"));
        return bundle;
    }

    testing::TemporaryFolder folder;
    platform::FileURL bundle { folder.path("Quillmark.app"), true };
    InstallerEngine engine { { folder.url() } };
};

TEST_F(PayloadVerificationTest, SealedBundleWithNestedLinksVerifiesAndKeepsItsIdentity)
{
    writeFixture(BundleBuilder().releaseVersion("2.0.0-rc.1"));
    sealBundle(bundle);

    auto identity = engine.verifiedPayload(bundle);
    auto inspected = engine.metadata(bundle);
    EXPECT_EQ(identity.url, inspected.url);
    EXPECT_EQ(identity.version, inspected.version);
    EXPECT_EQ(identity.build, inspected.build);
    EXPECT_EQ(identity.releaseVersion, "2.0.0-rc.1");
}

TEST_F(PayloadVerificationTest, TamperedBundlesAreRefusedNamingWhatChanged)
{
    struct Case {
        const char* name;
        std::function<void(PayloadVerificationTest&)> tamper;
        std::string expected;
    };
    const Case cases[] = {
        { "untouched", [](auto&) {}, "valid 2.0 10 2.0" },
        { "one byte of a resource changed",
            [](auto& t) {
                auto text = readFile(t.path("Contents/Resources/About.txt"));
                text[0] ^= 1;
                writeFile(t.path("Contents/Resources/About.txt"), text);
            },
            integrity("The file \u201CContents/Resources/About.txt\u201D was changed after the application was sealed.") },
        { "a file added",
            [](auto& t) { writeFile(t.path("Contents/Resources/extra.txt"), "extra\n"); },
            integrity("The item \u201CContents/Resources/extra.txt\u201D was added after the application was sealed.") },
        { "a file added beside the seal",
            [](auto& t) { writeFile(t.path("Contents/_CodeSignature/Seal.plist.orig"), "old seal\n"); },
            integrity("The item \u201CContents/_CodeSignature/Seal.plist.orig\u201D was added after the application was sealed.") },
        { "an empty folder added",
            [](auto& t) { makeFolder(t.path("Contents/Plugins")); },
            integrity("The item \u201CContents/Plugins\u201D was added after the application was sealed.") },
        { "a file removed",
            [](auto& t) { std::filesystem::remove(t.path("Contents/Resources/Help/index.html")); },
            integrity("The sealed item \u201CContents/Resources/Help/index.html\u201D is missing.") },
        { "a folder replaced by a file",
            [](auto& t) {
                std::filesystem::remove_all(t.path("Contents/Resources/Help"));
                writeFile(t.path("Contents/Resources/Help"), "<p>Help</p>\n");
            },
            integrity("The item \u201CContents/Resources/Help\u201D is a file, but it was sealed as a folder.") },
        { "an executable bit removed",
            [](auto& t) { ::chmod(t.path("Contents/MacOS/helper").c_str(), 0644); },
            integrity("The file \u201CContents/MacOS/helper\u201D is no longer executable, as it was when the application was sealed.") },
        { "an executable bit added",
            [](auto& t) { ::chmod(t.path("Contents/Resources/About.txt").c_str(), 0744); },
            integrity("The file \u201CContents/Resources/About.txt\u201D was made executable after the application was sealed.") },
        { "a set-user-ID bit added to a sealed executable",
            [](auto& t) { ::chmod(t.path("Contents/MacOS/helper").c_str(), 04755); },
            integrity("The file \u201CContents/MacOS/helper\u201D has a set-user-ID or set-group-ID bit, which an application may not have.") },
        { "a link retargeted",
            [](auto& t) {
                std::filesystem::remove(t.path("Contents/Resources/Current"));
                makeLink("About.txt", t.path("Contents/Resources/Current"));
            },
            integrity("The link \u201CContents/Resources/Current\u201D points to \u201CAbout.txt\u201D instead of \u201CHelp\u201D.") },
        { "a link climbing out of the bundle",
            [](auto& t) {
                std::filesystem::remove(t.path("Contents/Resources/Current"));
                makeLink("../../../Other.app", t.path("Contents/Resources/Current"));
            },
            integrity("The link \u201CContents/Resources/Current\u201D leads outside the application.") },
        { "an absolute link",
            [](auto& t) { makeLink("/etc/passwd", t.path("Contents/Resources/passwd")); },
            integrity("The link \u201CContents/Resources/passwd\u201D leads outside the application.") },
        { "a named pipe inside",
            [](auto& t) { ASSERT_EQ(::mkfifo(t.path("Contents/Resources/pipe").c_str(), 0644), 0); },
            integrity("The item \u201CContents/Resources/pipe\u201D is a named pipe, which an application may not contain.") },
        { "the seal's text changed",
            [](auto& t) {
                auto seal = readFile(t.path("Contents/_CodeSignature/Seal.plist"));
                auto at = seal.find("app.quillmark.viewer");
                seal.replace(at, 3, "com");
                writeFile(t.path("Contents/_CodeSignature/Seal.plist"), seal);
            },
            integrity("The signature of the code seal does not match the seal.") },
        { "the seal cut short",
            [](auto& t) {
                auto seal = readFile(t.path("Contents/_CodeSignature/Seal.plist"));
                writeFile(t.path("Contents/_CodeSignature/Seal.plist"), seal.substr(0, seal.size() / 2));
            },
            integrity("The code seal file \u201CContents/_CodeSignature/Seal.plist\u201D is damaged or unreadable.") },
        { "the signature changed",
            [](auto& t) {
                auto signature = readFile(t.path("Contents/_CodeSignature/Seal.sig"));
                signature[10] ^= 0x40;
                writeFile(t.path("Contents/_CodeSignature/Seal.sig"), signature);
            },
            integrity("The signature of the code seal does not match the seal.") },
        { "the signature cut short",
            [](auto& t) {
                auto signature = readFile(t.path("Contents/_CodeSignature/Seal.sig"));
                writeFile(t.path("Contents/_CodeSignature/Seal.sig"), signature.substr(0, 63));
            },
            integrity("The code seal file \u201CContents/_CodeSignature/Seal.sig\u201D is damaged or unreadable.") },
        { "the seal missing",
            [](auto& t) { std::filesystem::remove(t.path("Contents/_CodeSignature/Seal.plist")); },
            integrity("The application has no code seal: \u201CContents/_CodeSignature/Seal.plist\u201D is missing.") },
        { "the signature missing",
            [](auto& t) { std::filesystem::remove(t.path("Contents/_CodeSignature/Seal.sig")); },
            integrity("The application has no code seal: \u201CContents/_CodeSignature/Seal.sig\u201D is missing.") },
        { "the seal a link to a valid seal",
            [](auto& t) {
                std::filesystem::rename(t.path("Contents/_CodeSignature/Seal.plist"), t.path("Contents/Seal.plist"));
                makeLink("../Seal.plist", t.path("Contents/_CodeSignature/Seal.plist"));
            },
            integrity("The code seal file \u201CContents/_CodeSignature/Seal.plist\u201D is damaged or unreadable.") },
        { "sealed with another identifier",
            [](auto& t) { sealBundle(t.bundle, "com.example.other"); },
            integrity("The application is sealed as \u201Ccom.example.other\u201D, not as \u201Capp.quillmark.viewer\u201D as required.") },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(bundle.path());
        writeFixture();
        sealBundle(bundle);
        c.tamper(*this);
        EXPECT_EQ(outcome(engine, bundle), c.expected);
    }
}

TEST_F(PayloadVerificationTest, ExecutableIsCheckedBeforeTheSeal)
{
    struct Case {
        const char* name;
        std::function<void(PayloadVerificationTest&)> change;
    };
    const Case cases[] = {
        { "executable folder is a link to a real one",
            [](auto& t) {
                std::filesystem::rename(t.path("Contents/MacOS"), t.path("Contents/Binaries"));
                makeLink("Binaries", t.path("Contents/MacOS"));
            } },
        { "executable is a link to a real one",
            [](auto& t) {
                std::filesystem::rename(t.path("Contents/MacOS/Quillmark"), t.path("Contents/MacOS/Quillmark-real"));
                makeLink("Quillmark-real", t.path("Contents/MacOS/Quillmark"));
            } },
        { "executable missing", [](auto& t) { std::filesystem::remove(t.path("Contents/MacOS/Quillmark")); } },
        { "executable not executable", [](auto& t) { ::chmod(t.path("Contents/MacOS/Quillmark").c_str(), 0644); } },
        { "executable is a folder",
            [](auto& t) {
                std::filesystem::remove(t.path("Contents/MacOS/Quillmark"));
                makeFolder(t.path("Contents/MacOS/Quillmark"));
            } },
    };
    for (const auto& c : cases) {
        // Sealed after the change, so the seal itself is intact: only the
        // executable check can refuse. Unsealed, the executable still wins.
        for (bool sealed : { true, false }) {
            SCOPED_TRACE(std::string(c.name) + (sealed ? ", sealed" : ", not sealed"));
            std::filesystem::remove_all(bundle.path());
            writeFixture();
            c.change(*this);
            if (sealed)
                sealBundle(bundle);
            EXPECT_EQ(outcome(engine, bundle), executableMessage);
        }
    }
}

TEST_F(PayloadVerificationTest, MetadataRefusalWinsOverABrokenSeal)
{
    writeFixture(BundleBuilder().version("1"));
    EXPECT_EQ(outcome(engine, bundle), notTheViewer);

    std::filesystem::remove_all(bundle.path());
    writeFixture();
    sealBundle(bundle);
    std::filesystem::remove(path("Contents/Info.plist"));
    writeFile(path("Contents/Resources/extra.txt"), "extra\n");
    // The read error of the property list, passed on as it is.
    EXPECT_EQ(outcome(engine, bundle).rfind("platform error in file: ", 0), 0u) << outcome(engine, bundle);
}

// Reports a bundle that is not on disk, so that opening it for the seal
// check is what fails.
class PhantomBundleFileManager : public platform::SystemFileManager {
public:
    explicit PhantomBundleFileManager(std::string info)
        : info_(std::move(info))
    {
    }
    platform::ItemAttributes attributesOfItem(const platform::FileURL&) const override
    {
        return { platform::FileType::directory, 1, 1 };
    }
    bool isDirectory(const platform::FileURL&) const override { return true; }
    bool isExecutableFile(const platform::FileURL&) const override { return true; }
    std::string contentsOfFile(const platform::FileURL&) const override { return info_; }

private:
    std::string info_;
};

TEST_F(PayloadVerificationTest, UnopenableBundleGivesTheUnreadableSignatureMessage)
{
    writeFixture();
    auto info = readFile(path("Contents/Info.plist"));
    InstallerEngine phantom({ folder.url() }, std::make_shared<PhantomBundleFileManager>(info));
    EXPECT_EQ(outcome(phantom, platform::FileURL(folder.path("Gone.app"), true)), unreadableMessage);
}

} // namespace
} // namespace quillmark
