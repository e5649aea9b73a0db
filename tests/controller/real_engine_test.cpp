#include "tests/controller/installer_harness.hpp"

#include "controller/installation_roots.hpp"
#include "platform/files/system_file_manager.hpp"
#include "platform/files/volume_information.hpp"
#include "tests/support/bundle_builder.hpp"
#include "tests/support/scoped_mount.hpp"
#include "tests/support/sealing.hpp"
#include "tests/support/temporary_folder.hpp"

#include <cstdlib>
#include <optional>

namespace quillmark::testing {
namespace {

// HOME as the session gives it, put back when the test ends.
class HomeForTest {
public:
    explicit HomeForTest(const std::string& home)
    {
        if (const char* saved = std::getenv("HOME"))
            saved_ = saved;
        ::setenv("HOME", home.c_str(), 1);
    }
    ~HomeForTest()
    {
        if (saved_)
            ::setenv("HOME", saved_->c_str(), 1);
        else
            ::unsetenv("HOME");
    }

private:
    std::optional<std::string> saved_;
};

struct HomeCase {
    const char* name;
    // Where HOME points, relative to a temporary folder; the home itself is
    // always "var/home/someone" there.
    const char* home;
};

void PrintTo(const HomeCase& row, std::ostream* stream)
{
    *stream << row.name;
}

class InstallationRootsTest : public ::testing::TestWithParam<HomeCase> { };

// Image-based systems make /home a link to /var/home: the user's root is the
// folder itself, so that the installation there is not taken for one through
// a link and refused.
TEST_P(InstallationRootsTest, AreTheSystemFolderThenTheUsersOwnWithItsLinksResolved)
{
    TemporaryFolder folder;
    makeFolder(folder.path("var/home/someone"));
    makeLink("var/home", folder.path("home"));
    const std::string realRoot = folder.path("var/home/someone/Applications");
    std::vector<platform::FileURL> roots;
    {
        HomeForTest home(folder.path(GetParam().home));
        roots = installationRoots(platform::SystemFileManager());
    }

    ASSERT_EQ(roots.size(), 2u);
    EXPECT_EQ(roots[0], platform::FileURL("/Applications", true));
    EXPECT_EQ(roots[1], platform::FileURL(realRoot, true));

    auto payload = BundleBuilder().version("2.4").build("241").releaseVersion("2.4.0").write(folder.path("disk/Quillmark.app"));
    sealBundle(payload);
    InstallerEngine engine({ roots[1] });
    auto location = engine.locations().at(0);
    EXPECT_FALSE(location.conflict);
    auto result = engine.install(engine.verifiedPayload(payload), location,
        { .cancelled = [] { return false; },
            .ensureNotRunning = [] {},
            .phase = [](std::string_view) {},
            .beforeCommit = {},
            .afterReplace = {} });
    EXPECT_EQ(result.installed.path(), realRoot + "/Quillmark.app");
    EXPECT_NO_THROW(engine.verifiedPayload(result.installed));
}

INSTANTIATE_TEST_SUITE_P(Homes, InstallationRootsTest,
    ::testing::Values(HomeCase { "HomeItself", "var/home/someone" }, HomeCase { "HomeReachedThroughALink", "home/someone" }),
    [](const auto& info) { return std::string(info.param.name); });

// The whole road through the real engine: a sealed payload on a read-only
// volume, two roots in a temporary folder, a real installation.
class RealEngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        makeFolder(folder.path("disk"));
        makeFolder(folder.path("system"));
        makeFolder(folder.path("user"));
        auto payload = BundleBuilder().version("2.4").build("241").releaseVersion("2.4.0").write(folder.path("disk/Quillmark.app"));
        sealBundle(payload);
        BundleBuilder().version("2.3").build("230").releaseVersion("2.3.0").write(folder.path("user/Quillmark.app"));
        std::string whyNot;
        disk = ScopedMount::readOnlyBind(folder.path("disk"), whyNot);
        if (!disk)
            GTEST_SKIP() << whyNot;

        engine = engineBackend(std::make_shared<InstallerEngine>(std::vector<platform::FileURL> {
            platform::FileURL(folder.path("system"), true), platform::FileURL(folder.path("user"), true) }));
        installer = std::make_unique<QuillmarkInstaller>(InstallerEnvironment {
            .controls = desktop,
            .desktop = desktop,
            .workspace = desktop,
            .queues = desktop,
            .ownBundle = platform::BundleInformation(platform::FileURL(folder.path("disk/Install Quillmark.app"), true),
                platform::PropertyListValue::makeDictionary({
                    { "QuillmarkReleaseVersion", platform::PropertyListValue::makeString("2.4.0") },
                    { "CFBundleVersion", platform::PropertyListValue::makeString("241") },
                })),
            .makeEngine = [this] { return engine; },
            .volumeIsReadOnly = platform::volumeIsReadOnly,
            .registerInstalled = {},
        });
        desktop.setDelegate(*installer);
    }

    void TearDown() override { desktop.drain(); }

    std::string text(platform::Label& label) { return dynamic_cast<FakeLabel&>(label).text; }

    TemporaryFolder folder;
    std::unique_ptr<ScopedMount> disk;
    FakeDesktop desktop { FakeDesktop::Background::onThreads };
    std::shared_ptr<const InstallerBackend> engine;
    std::unique_ptr<QuillmarkInstaller> installer;
};

TEST_F(RealEngineTest, UpdatesTheCopyInTheUsersFolder)
{
    installer->applicationDidFinishLaunching();
    desktop.drain();
    ASSERT_TRUE(installer->payload()) << text(installer->statusLabel());
    EXPECT_EQ(text(installer->titleLabel()), "Quillmark 2.4.0");
    EXPECT_EQ(installer->destinations().selectedIndex(), 1);
    EXPECT_EQ(text(installer->statusLabel()), "Destination: " + folder.path("user/Quillmark.app"));
    EXPECT_EQ(dynamic_cast<FakeButton&>(installer->primary()).title, "Update Quillmark");

    installer->installOrOpen();
    desktop.drain();
    ASSERT_TRUE(installer->result()) << text(installer->statusLabel());
    EXPECT_EQ(text(installer->statusLabel()), "Installed at " + folder.path("user/Quillmark.app")
            + ". Your documents and preferences were retained. You can eject the installer disk after closing this window.");
    EXPECT_EQ(InstallerEngine({ platform::FileURL(folder.path("user"), true) }).metadata(installer->result()->installed).releaseVersion, "2.4.0");
}

TEST_F(RealEngineTest, AReadOnlySystemFolderLeadsToTheUsersFolder)
{
    std::string whyNot;
    auto readOnlySystem = ScopedMount::readOnlyBind(folder.path("system"), whyNot);
    if (!readOnlySystem)
        GTEST_SKIP() << whyNot;
    installer->applicationDidFinishLaunching();
    desktop.drain();
    installer->destinations().selectItem(0);
    installer->locationChanged();
    EXPECT_EQ(dynamic_cast<FakeButton&>(installer->primary()).title, "Install Quillmark");

    installer->installOrOpen();
    desktop.drain();
    EXPECT_FALSE(installer->result());
    auto alert = desktop.unansweredAlert();
    ASSERT_TRUE(alert) << text(installer->statusLabel());
    EXPECT_EQ(alert->alert.message, "Install for your user account instead?");
    EXPECT_EQ(alert->alert.informativeText, "This account cannot write to " + folder.path("system") + ". You can install in "
            + folder.path("user") + " without administrator access. An existing copy there will be reviewed first.");
    desktop.answerAlert(platform::alertFirstButtonReturn);
    EXPECT_EQ(installer->destinations().selectedIndex(), 1);
    EXPECT_EQ(dynamic_cast<FakeButton&>(installer->primary()).title, "Update Quillmark");
}

TEST_F(RealEngineTest, APayloadOnAWritableVolumeIsRefused)
{
    auto writable = BundleBuilder().version("2.4").build("241").releaseVersion("2.4.0").write(folder.path("writable/Quillmark.app"));
    sealBundle(writable);
    installer->loadPayload(writable);
    desktop.drain();
    EXPECT_FALSE(installer->payload());
    EXPECT_EQ(text(installer->statusLabel()), "Open this installer from its mounted disk image. Keep Quillmark.app beside "
                                              "the installer; the source disk stays read only.");
}

} // namespace
} // namespace quillmark::testing
