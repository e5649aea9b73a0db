#include "tests/app/installer_on_display.hpp"

#include "tests/app/base_set_sandbox.hpp"

#include "tests/support/bundle_builder.hpp"
#include "tests/support/sealing.hpp"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace quillmark::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string installerInBundle = "Install Quillmark.app/Contents/MacOS/QuillmarkInstaller";

constexpr std::size_t largeResourceBytes = 64u << 20;

void writeLargeResource(const std::string& bundle, char fill)
{
    std::ofstream out(bundle + "/Contents/Resources/Pages.bin", std::ios::binary);
    std::string block(1 << 20, fill);
    for (std::size_t written = 0; written < largeResourceBytes; written += block.size())
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
}

void writeCopy(const std::string& bundle, const ViewerCopy& copy, char fill)
{
    BundleBuilder().version(copy.version).build(copy.build).releaseVersion(copy.releaseVersion).write(bundle);
    if (copy.large)
        writeLargeResource(bundle, fill);
    sealBundle(platform::FileURL(bundle, true));
}

std::string testName()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name) {
        if (c == '/')
            c = '-';
    }
    return name;
}

} // namespace

void InstallerOnDisplayTest::SetUp()
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting the disk image and isolating the file system need root";
    xdotool = programOnPath("xdotool").value_or("");
    if (xdotool.empty())
        GTEST_SKIP() << "xdotool is not installed";
    std::string whyNot;
    display = VirtualDisplay::start(whyNot);
    if (!display)
        GTEST_SKIP() << whyNot;
    ::setenv("DISPLAY", display->name().c_str(), 1);
    makeFolder(folder.path("bus"));
    bus = PrivateAccessibilityBus::start(folder.path("bus"), display->name(), whyNot);
    ASSERT_TRUE(bus) << whyNot;
    bus->useInThisProcess();

    home = folder.path("home");
    makeFolder(home);
    makeFolder(folder.path("runtime"));
    ::chmod(folder.path("runtime").c_str(), 0700);
    makeFolder(folder.path("volume"));
    makeFolder(folder.path("screenshots"));
}

void InstallerOnDisplayTest::TearDown()
{
    // A picture of what the display showed when the test failed, kept where
    // the build keeps its results.
    std::string picture;
    if (HasFailure() && display)
        picture = screenshot("at-failure");
    reader.reset();
    installer.reset();
    ::unsetenv("TMPDIR");
    if (isolated)
        leaveIsolation(folder.path(), folder.path("volume"));
    if (!picture.empty()) {
        std::error_code error;
        fs::create_directories(QUILLMARK_END_TO_END_SCREENSHOTS, error);
        const auto kept = fs::path(QUILLMARK_END_TO_END_SCREENSHOTS) / (testName() + ".png");
        fs::copy_file(picture, kept, fs::copy_options::overwrite_existing, error);
        if (!error)
            std::cerr << "The display at the failure: " << kept.string() << '\n';
    }
}

void InstallerOnDisplayTest::makeDisk(const ViewerCopy& payload, bool tamper)
{
    makeFolder(folder.path("disk"));
    ASSERT_EQ(runCommand({ "/bin/cp", "-a", QUILLMARK_INSTALLER_BUNDLE_DIR, folder.path("disk") }).exitStatus, 0);
    const auto bundle = folder.path("disk/Quillmark.app");
    writeCopy(bundle, payload, 'n');
    if (tamper)
        writeFile(bundle + "/Contents/Resources/About.txt", "Not what was sealed.\n");
    imageDisk();
}

void InstallerOnDisplayTest::makeDiskWithSampleViewer()
{
    makeFolder(folder.path("disk"));
    for (const char* bundle : { QUILLMARK_INSTALLER_BUNDLE_DIR, QUILLMARK_SAMPLE_PAYLOAD_DIR })
        ASSERT_EQ(runCommand({ "/bin/cp", "-a", bundle, folder.path("disk") }).exitStatus, 0) << bundle;
    imageDisk();
}

void InstallerOnDisplayTest::useShippedDisk()
{
    ASSERT_EQ(runCommand({ "/bin/cp", QUILLMARK_SHIPPED_DISK_IMAGE, folder.path("Quillmark.squashfs") }).exitStatus, 0);
}

void InstallerOnDisplayTest::imageDisk()
{
    auto made = runCommand({ "/bin/bash", QUILLMARK_MAKE_DISK_IMAGE, folder.path("Quillmark.squashfs"),
        folder.path("disk/Install Quillmark.app"), folder.path("disk/Quillmark.app") });
    ASSERT_EQ(made.exitStatus, 0) << made.errors;
}

void InstallerOnDisplayTest::putCopy(const ViewerCopy& copy)
{
    writeCopy(userApplication(), copy, 'o');
}

bool InstallerOnDisplayTest::isolate()
{
    std::string whyNot;
    isolated = isolateWithDiskImage(folder.path(), folder.path("Quillmark.squashfs"), folder.path("volume"), whyNot);
    if (!isolated) {
        ADD_FAILURE() << "the test could not isolate itself: " << whyNot;
        return false;
    }
    // Everything else is read-only now, scratch files included.
    makeFolder(folder.path("scratch"));
    ::setenv("TMPDIR", folder.path("scratch").c_str(), 1);
    return true;
}

std::map<std::string, std::string> InstallerOnDisplayTest::installerEnvironment() const
{
    return {
        { "DISPLAY", display->name() },
        { "HOME", home },
        { "XDG_RUNTIME_DIR", folder.path("runtime") },
        // The menu entry goes into the private home's data folder, the
        // record of installations into its state folder.
        { "XDG_DATA_HOME", "" },
        { "XDG_STATE_HOME", "" },
        { "DBUS_SESSION_BUS_ADDRESS", bus->sessionAddress() },
        // Qt's bridge otherwise waits for a screen reader to announce itself.
        { "QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1" },
        // Qt exports nothing when given the accessibility bus directly.
        { "AT_SPI_BUS_ADDRESS", "" },
    };
}

std::string InstallerOnDisplayTest::installerPath() const
{
    return folder.path("volume/" + installerInBundle);
}

void InstallerOnDisplayTest::startInstaller()
{
    startInstallerThrough({});
}

void InstallerOnDisplayTest::startInstallerThrough(const std::vector<std::string>& wrapper)
{
    startInstallerWith(wrapper, installerEnvironment());
}

void InstallerOnDisplayTest::startInstallerWith(const std::vector<std::string>& wrapper,
    const std::map<std::string, std::string>& environment)
{
    std::vector<std::string> arguments = wrapper;
    arguments.push_back(installerPath());
    installer = std::make_unique<ChildProcess>(arguments, environment);
    std::string whyNot;
    installerPid = wrapper.empty() ? installer->pid() : descendantRunning(installer->pid(), installerPath(), 60s);
    if (installerPid != 0)
        reader = windowreader::ApplicationReader::attach(installerPid, 60s, whyNot);
    else
        whyNot = "the installer never started below " + wrapper.front();
    if (auto ended = installer->waitForExit(0ms))
        whyNot += "; the installer had ended with status " + std::to_string(*ended);
    ASSERT_TRUE(reader) << whyNot;
}

windowreader::ApplicationSnapshot InstallerOnDisplayTest::waitFor(const std::string& what,
    const std::function<bool(const windowreader::ApplicationSnapshot&)>& wanted, std::chrono::seconds limit)
{
    bool held = false;
    auto snapshot = reader->waitFor(wanted, limit, &held);
    EXPECT_TRUE(held) << "the window never showed " << what << "; it shows: " << snapshot.describe();
    return snapshot;
}

windowreader::ApplicationSnapshot InstallerOnDisplayTest::waitForStatus(const std::string& text)
{
    return waitFor("the status \"" + text + "\"",
        [&](const windowreader::ApplicationSnapshot& window) { return window.statusText() == text; });
}

void InstallerOnDisplayTest::press(const std::string& keys)
{
    auto pressed = runCommand({ xdotool, "key", "--clearmodifiers", keys });
    ASSERT_EQ(pressed.exitStatus, 0) << pressed.errors;
}

std::string InstallerOnDisplayTest::screenshot(const std::string& name)
{
    auto import = programOnPath("import");
    if (!import)
        return "";
    const std::string path = folder.path("screenshots/" + name + ".png");
    auto taken = runCommand({ *import, "-window", "root", path });
    return taken.exitStatus == 0 ? path : "";
}

namespace installerTexts {

std::string installedAt(const std::string& application)
{
    return "Installed at " + application
        + ". Your documents and preferences were retained. You can eject the installer disk after closing this window.";
}

std::string destination(const std::string& application)
{
    return "Destination: " + application;
}

std::string item(const std::string& root, const std::optional<ViewerCopy>& copy)
{
    if (!copy)
        return root + " \u00B7 New installation";
    return root + " \u00B7 " + copy->releaseVersion + " (build " + copy->build + ")";
}

} // namespace installerTexts

} // namespace quillmark::testing
