// The installer started where no display can be opened says why in one
// sentence and ends with status 1, rather than being ended by the toolkit.

#include "tests/support/child_process.hpp"
#include "tests/support/temporary_folder.hpp"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

namespace quillmark {
namespace {

const std::string installer = QUILLMARK_INSTALLER_BUNDLE_DIR "/Contents/MacOS/QuillmarkInstaller";

// An X11 display number that no server on this machine listens on now.
std::string absentX11Display()
{
    for (int number = 4000 + ::getpid() % 1000;; ++number)
        if (::access(("/tmp/.X11-unix/X" + std::to_string(number)).c_str(), F_OK) != 0)
            return ":" + std::to_string(number);
}

TEST(InstallerStartTest, WithoutADisplayThatOpensTheInstallerSaysWhyAndEndsWithOne)
{
    testing::TemporaryFolder runtime;
    auto x11 = absentX11Display();
    auto wayland = runtime.path("wayland-absent");
    struct Case {
        const char* name;
        std::vector<std::string> environment;
        std::string reason;
    };
    const std::vector<Case> cases = {
        { "nothing at the X11 display", { "DISPLAY=" + x11 },
            "Nothing answers at the X11 display \u201C" + x11 + "\u201D." },
        { "no X11 display name", { "DISPLAY=not a display" },
            "\u201Cnot a display\u201D is not the name of an X11 display." },
        { "nothing at the Wayland display", { "QT_QPA_PLATFORM=wayland", "WAYLAND_DISPLAY=" + wayland },
            "Nothing answers at the Wayland display \u201C" + wayland + "\u201D." },
        { "a Wayland session without any display",
            { "XDG_SESSION_TYPE=wayland", "XDG_RUNTIME_DIR=" + runtime.path(), "WAYLAND_DISPLAY=wayland-absent" },
            "Nothing answers at the Wayland display \u201Cwayland-absent\u201D. No X11 display is named (DISPLAY is "
            "not set)." },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> command { "/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u",
            "WAYLAND_SOCKET", "-u", "QT_QPA_PLATFORM", "-u", "XDG_SESSION_TYPE" };
        command.insert(command.end(), row.environment.begin(), row.environment.end());
        command.push_back(installer);
        auto result = testing::runCommand(command);
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.errors, "The Quillmark installer could not start: " + row.reason + "\n");
    }
}

} // namespace
} // namespace quillmark
