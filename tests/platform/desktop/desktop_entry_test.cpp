#include "platform/desktop/desktop_entry.hpp"

#include "platform/error.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/temporary_folder.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace quillmark::platform {
namespace {

using namespace std::chrono_literals;
using testing::readFile;
using testing::runCommand;

DesktopEntry viewerAt(const std::string& program)
{
    return DesktopEntry {
        .name = "Quillmark",
        .program = program,
        .workingFolder = "/",
        .icon = "app.quillmark.viewer",
        .categories = "Office;",
        .windowClass = "Quillmark",
    };
}

TEST(DesktopEntryTest, ListsTheProgramWithItsIconCategoriesAndWindowClass)
{
    EXPECT_EQ(desktopEntryText(viewerAt("/home/ann/Applications/Quillmark.app/Contents/MacOS/Quillmark")),
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Version=1.4\n"
        "Name=Quillmark\n"
        "Exec=\"/home/ann/Applications/Quillmark.app/Contents/MacOS/Quillmark\"\n"
        "TryExec=/home/ann/Applications/Quillmark.app/Contents/MacOS/Quillmark\n"
        "Path=/\n"
        "Icon=app.quillmark.viewer\n"
        "Categories=Office;\n"
        "Terminal=false\n"
        "StartupWMClass=Quillmark\n");
}

TEST(DesktopEntryTest, AnApplicationWithoutIconHasNoIconKey)
{
    auto entry = viewerAt("/Applications/Quillmark.app/Contents/MacOS/Quillmark");
    entry.icon.reset();
    EXPECT_EQ(desktopEntryText(entry).find("Icon="), std::string::npos);
}

// Refused in one line: the offending bytes are shown as U+FFFD.
TEST(DesktopEntryTest, WhatAnEntryCannotCarryIsRefusedRatherThanWritten)
{
    const std::string control = "holds a control character, which a desktop entry cannot carry.";
    const std::string notText = "holds bytes that are not UTF-8 text, which a desktop entry cannot carry.";
    const struct {
        std::string program;
        std::string said;
    } cases[] = {
        { "/home/a\nb/Quillmark", "\u201C/home/a\uFFFDb/Quillmark\u201D " + control },
        { "/home/a\tb/Quillmark", "\u201C/home/a\uFFFDb/Quillmark\u201D " + control },
        { "/home/a\x7f" "b/Quillmark", "\u201C/home/a\uFFFDb/Quillmark\u201D " + control },
        { "/home/J\xf6rg/Quillmark", "\u201C/home/J\uFFFDrg/Quillmark\u201D " + notText },
        { "/home/a\xc0\xaf" "b", "\u201C/home/a\uFFFD\uFFFDb\u201D " + notText },
        { "/home/a\xed\xa0\x80", "\u201C/home/a\uFFFD\uFFFD\uFFFD\u201D " + notText },
        { "/home/a\xe2\x82", "\u201C/home/a\uFFFD\uFFFD\u201D " + notText },
    };
    for (const auto& refused : cases) {
        SCOPED_TRACE(refused.program);
        try {
            desktopEntryText(viewerAt(refused.program));
            ADD_FAILURE() << "written";
        } catch (const Error& error) {
            EXPECT_EQ(error.description(), "The desktop entry's program " + refused.said);
        }
    }
    // Text beyond ASCII is written as it is.
    EXPECT_NE(desktopEntryText(viewerAt("/home/J\u00F6rg/\U0001F58B/Quillmark")).find("TryExec=/home/J\u00F6rg/\U0001F58B/"),
        std::string::npos);
}

struct PathCase {
    const char* name;
    const char* folder;
};

void PrintTo(const PathCase& path, std::ostream* out)
{
    *out << path.name;
}

class DesktopEntryPathTest : public ::testing::TestWithParam<PathCase> { };

// Each entry is checked by the desktop's own validator, and started by the
// desktop's own launcher, which must run exactly the program named, in "/".
TEST_P(DesktopEntryPathTest, TheDesktopReadsBackTheExactPath)
{
    const auto validator = testing::programPath("desktop-file-validate");
    const auto launcher = testing::programPath("gio");
    if (validator.empty() || launcher.empty())
        GTEST_SKIP() << "desktop-file-validate (desktop-file-utils) or gio (libglib2.0-bin) is not installed";
    testing::TemporaryFolder folder;
    const auto programFolder = folder.path(GetParam().folder);
    std::filesystem::create_directories(programFolder);
    const auto program = programFolder + "/Quillmark";
    const auto marker = folder.path("started");
    testing::writeFile(program,
        "#!/bin/sh\nprintf '%s|%s' \"$0\" \"$(pwd)\" > '" + marker + ".new' && mv '" + marker + ".new' '" + marker + "'\n", 0755);
    const auto entry = folder.path("app.quillmark.viewer.desktop");
    testing::writeFile(entry, desktopEntryText(viewerAt(program)));

    auto validated = runCommand({ validator, entry });
    EXPECT_EQ(validated.exitStatus, 0) << validated.output << validated.errors;
    EXPECT_EQ(validated.output + validated.errors, "");

    auto launched = runCommand({ launcher, "launch", entry });
    ASSERT_EQ(launched.exitStatus, 0) << launched.errors;
    for (int i = 0; i < 500 && !std::filesystem::exists(marker); ++i)
        std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(std::filesystem::exists(marker)) << "the program never started";
    EXPECT_EQ(readFile(marker), program + "|/");
}

INSTANTIATE_TEST_SUITE_P(Paths, DesktopEntryPathTest,
    ::testing::Values(PathCase { "Plain", "Applications/Quillmark.app/Contents/MacOS" },
        PathCase { "Blanks", "My Apps/Quill mark.app/Contents/MacOS" },
        PathCase { "ShellCharacters", "a\"b`c$d'e;f&g|h<i>j(k)l*m?n#o~p" },
        PathCase { "Backslashes", "a\\b\\\\c\\\"d\\$e" },
        PathCase { "FolderStartingWithABlank", " x=y" },
        PathCase { "NotAscii", "Programme f\u00FCr J\u00F6rg" },
        PathCase { "Percent", "100%/%f %U" }),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quillmark::platform
