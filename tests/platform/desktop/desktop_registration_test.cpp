#include "platform/desktop/desktop_registration.hpp"

#include "platform/error.hpp"
#include "tests/support/failure_text.hpp"
#include "tests/support/bundle_builder.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/scoped_mount.hpp"
#include "tests/support/temporary_folder.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <sstream>
#include <sys/stat.h>

namespace quillmark::platform {
namespace {

namespace fs = std::filesystem;
using testing::BundleBuilder;
using testing::readFile;
using testing::writeFile;

const std::string sampleBundle = QUILLMARK_SAMPLE_PAYLOAD_DIR;

// A variable of the desktop session set for one test, and restored after.
class SessionVariable {
public:
    SessionVariable(const char* name, std::optional<std::string> value)
        : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~SessionVariable()
    {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

std::vector<std::string> entriesIn(const std::string& applications)
{
    std::vector<std::string> entries;
    for (const auto& item : fs::directory_iterator(applications)) {
        if (item.path().extension() == ".desktop")
            entries.push_back(item.path().filename().string());
    }
    return entries;
}

// The lines of an entry that name the program.
std::vector<std::string> programLines(const std::string& entry)
{
    std::vector<std::string> lines;
    std::istringstream text(readFile(entry));
    for (std::string line; std::getline(text, line);) {
        if (line.starts_with("Exec=") || line.starts_with("TryExec="))
            lines.push_back(line);
    }
    return lines;
}

// The first bytes of a PNG picture of the given size, as far as a reader of
// its size looks.
std::string pngHeader(unsigned width, unsigned height)
{
    std::string bytes = "\x89PNG\r\n\x1a\n";
    bytes += std::string("\0\0\0\x0d", 4) + "IHDR";
    for (unsigned value : { width, height }) {
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes += static_cast<char>((value >> shift) & 0xff);
    }
    return bytes + std::string("\x08\x06\0\0\0", 5);
}

class DesktopRegistrationTest : public ::testing::Test {
protected:
    // The sample viewer installed in a home folder of the test's.
    std::string installSample(const std::string& root)
    {
        fs::create_directories(root);
        const auto bundle = root + "/Quillmark.app";
        fs::copy(sampleBundle, bundle, fs::copy_options::recursive);
        return bundle;
    }

    testing::TemporaryFolder folder;
    const std::string data = folder.path("data");
    const std::string applications = data + "/applications";
};

TEST_F(DesktopRegistrationTest, ListsTheViewerWithItsIconInTheDataFolder)
{
    const auto bundle = installSample(folder.path("home/My Applications"));
    registerWithDesktop(FileURL(bundle, true), DesktopDataFolder { FileURL(data, true), 0700 });

    ASSERT_EQ(entriesIn(applications), std::vector<std::string> { "app.quillmark.viewer.desktop" });
    const auto entry = applications + "/app.quillmark.viewer.desktop";
    const auto program = bundle + "/Contents/MacOS/Quillmark";
    EXPECT_EQ(readFile(entry),
        "[Desktop Entry]\nType=Application\nVersion=1.4\nName=Quillmark\nExec=\"" + program + "\"\nTryExec=" + program
            + "\nPath=/\nIcon=app.quillmark.viewer\nCategories=Office;\nTerminal=false\nStartupWMClass=Quillmark\n");
    EXPECT_EQ(readFile(data + "/icons/hicolor/128x128/apps/app.quillmark.viewer.png"),
        readFile(bundle + "/Contents/Resources/Quillmark.png"));
    EXPECT_TRUE(fs::exists(applications + "/mimeinfo.cache")) << "the folder's index was not brought up to date";

    const auto validator = testing::programPath("desktop-file-validate");
    if (validator.empty())
        GTEST_SKIP() << "desktop-file-validate (desktop-file-utils) is not installed";
    auto validated = testing::runCommand({ validator, entry });
    EXPECT_EQ(validated.exitStatus, 0) << validated.output << validated.errors;
}

TEST_F(DesktopRegistrationTest, ACopyElsewhereTakesOverTheSameEntry)
{
    const auto first = installSample(folder.path("first"));
    const auto second = installSample(folder.path("second"));
    registerWithDesktop(FileURL(first, true), DesktopDataFolder { FileURL(data, true), 0700 });
    registerWithDesktop(FileURL(second, true), DesktopDataFolder { FileURL(data, true), 0700 });

    ASSERT_EQ(entriesIn(applications), std::vector<std::string> { "app.quillmark.viewer.desktop" });
    const auto program = second + "/Contents/MacOS/Quillmark";
    EXPECT_EQ(programLines(applications + "/app.quillmark.viewer.desktop"),
        (std::vector<std::string> { "Exec=\"" + program + "\"", "TryExec=" + program }));
}

TEST_F(DesktopRegistrationTest, AnApplicationWithoutIconIsListedWithoutOne)
{
    const auto bundle = BundleBuilder().write(folder.path("Quillmark.app")).path();
    registerWithDesktop(FileURL(bundle, true), DesktopDataFolder { FileURL(data, true), 0700 });

    EXPECT_EQ(readFile(applications + "/app.quillmark.viewer.desktop").find("Icon="), std::string::npos);
    EXPECT_FALSE(fs::exists(data + "/icons"));
}

TEST_F(DesktopRegistrationTest, ABundleThatCannotBeListedIsRefusedWithoutAnEntry)
{
    struct Case {
        const char* name;
        BundleBuilder bundle;
        std::string icon;
        std::string why;
    };
    const std::string at = folder.path("Quillmark.app");
    const Case cases[] = {
        { "icon not square", BundleBuilder().set("CFBundleIconFile", "Quillmark"), pngHeader(128, 96),
            "The application's icon \u201C" + at + "/Contents/Resources/Quillmark.png\u201D is 128 \u00D7 96 pixels; the "
            "desktop's icon theme takes square pictures of 16 to 512 pixels in its usual sizes." },
        { "icon not a PNG", BundleBuilder().set("CFBundleIconFile", "Quillmark.png"), "GIF89a",
            "The application's icon \u201C" + at + "/Contents/Resources/Quillmark.png\u201D is not a PNG picture." },
        { "icon missing", BundleBuilder().set("CFBundleIconFile", "Other"), pngHeader(64, 64),
            "Could not read \u201C" + at + "/Contents/Resources/Other.png\u201D because there is no such file or folder." },
        { "no identifier", BundleBuilder().remove("CFBundleIdentifier"), pngHeader(64, 64),
            "The application \u201C" + at + "\u201D has no bundle identifier the desktop can name its entry by." },
        { "identifier with a slash", BundleBuilder().set("CFBundleIdentifier", "../viewer"), pngHeader(64, 64),
            "The application \u201C" + at + "\u201D has no bundle identifier the desktop can name its entry by." },
        { "no program", BundleBuilder().remove("CFBundleExecutable"), pngHeader(64, 64),
            "The application \u201C" + at + "\u201D does not name its program." },
    };
    for (const auto& refused : cases) {
        SCOPED_TRACE(refused.name);
        fs::remove_all(at);
        fs::remove_all(data);
        refused.bundle.write(at);
        writeFile(at + "/Contents/Resources/Quillmark.png", refused.icon);
        EXPECT_EQ(testing::failureText([&] { registerWithDesktop(FileURL(at, true), DesktopDataFolder { FileURL(data, true), 0700 }); }),
            refused.why);
        EXPECT_FALSE(fs::exists(applications));
    }
}

TEST_F(DesktopRegistrationTest, AReadOnlyDataFolderIsSaidInOneSentence)
{
    fs::create_directories(data);
    std::string whyNot;
    auto readOnly = testing::ScopedMount::readOnlyBind(data, whyNot);
    if (!readOnly)
        GTEST_SKIP() << whyNot;
    const auto bundle = installSample(folder.path("home/Applications"));

    EXPECT_EQ(testing::failureText([&] { registerWithDesktop(FileURL(bundle, true), DesktopDataFolder { FileURL(data, true), 0700 }); }),
        "Could not create the folder \u201C" + data + "/icons\u201D because the volume is read-only.");
}

// The user's own copy goes into the user's data folder, as every desktop
// program reads its place; a copy elsewhere into the system's, only where this
// process may write.
TEST_F(DesktopRegistrationTest, TheDataFolderFollowsWhereTheCopyIs)
{
    const auto home = folder.path("home");
    SessionVariable homeVariable("HOME", home);
    const FileURL userCopy(home + "/Applications/Quillmark.app", true);
    {
        SessionVariable dataHome("XDG_DATA_HOME", std::nullopt);
        auto chosen = desktopDataFolder(userCopy);
        ASSERT_TRUE(chosen);
        EXPECT_EQ(chosen->url.path(), home + "/.local/share");
        EXPECT_EQ(chosen->folderMode, 0700u);
    }
    {
        SessionVariable dataHome("XDG_DATA_HOME", folder.path("data/./here"));
        EXPECT_EQ(desktopDataFolder(userCopy)->url.path(), folder.path("data/here"));
    }
    {
        SessionVariable dataHome("XDG_DATA_HOME", "relative/data");
        EXPECT_EQ(desktopDataFolder(userCopy)->url.path(), home + "/.local/share") << "a relative value is ignored";
    }

    const FileURL systemCopy("/Applications/Quillmark.app", true);
    std::string whyNot;
    auto system = testing::ScopedMount::sizeLimitedTmpfs("/usr/local/share", 1 << 20, whyNot);
    if (!system)
        GTEST_SKIP() << whyNot;
    auto chosen = desktopDataFolder(systemCopy);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->url.path(), "/usr/local/share");
    EXPECT_EQ(chosen->folderMode, 0755u);
    {
        auto readOnly = testing::ScopedMount::readOnlyBind("/usr/local/share", whyNot);
        ASSERT_TRUE(readOnly) << whyNot;
        EXPECT_FALSE(desktopDataFolder(systemCopy)) << "a system folder this process may not write to is left alone";
        EXPECT_NO_THROW(registerWithDesktop(systemCopy));
    }
}

} // namespace
} // namespace quillmark::platform
