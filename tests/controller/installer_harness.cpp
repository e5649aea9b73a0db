#include "tests/controller/installer_harness.hpp"

#include <thread>

namespace quillmark::testing {

InstalledIdentity identity(std::string releaseVersion, std::string build, platform::FileURL url)
{
    auto version = releaseVersion.substr(0, releaseVersion.find_first_of("-+"));
    return { std::move(url), version, std::move(build), std::move(releaseVersion) };
}

InstalledIdentity payloadIdentity()
{
    return identity("2.4.0", "241", payloadBundle);
}

InstallerLocation newLocation(const platform::FileURL& root)
{
    return { root, std::nullopt, std::nullopt };
}

InstallerLocation installedLocation(const platform::FileURL& root, std::string releaseVersion, std::string build)
{
    return { root, identity(std::move(releaseVersion), std::move(build), root.appendingDirectory("Quillmark.app")), std::nullopt };
}

InstallerLocation conflictLocation(const platform::FileURL& root, std::string conflict)
{
    return { root, std::nullopt, std::move(conflict) };
}

platform::BundleInformation installerInformation(std::optional<std::string> releaseVersion,
    std::optional<std::string> shortVersion, std::optional<std::string> build)
{
    std::vector<platform::PropertyListValue::Entry> keys;
    keys.emplace_back("CFBundleIdentifier", platform::PropertyListValue::makeString("app.quillmark.installer"));
    if (releaseVersion)
        keys.emplace_back("QuillmarkReleaseVersion", platform::PropertyListValue::makeString(*releaseVersion));
    if (shortVersion)
        keys.emplace_back("CFBundleShortVersionString", platform::PropertyListValue::makeString(*shortVersion));
    if (build)
        keys.emplace_back("CFBundleVersion", platform::PropertyListValue::makeString(*build));
    return platform::BundleInformation(installerBundle, platform::PropertyListValue::makeDictionary(std::move(keys)));
}

void PrintTo(State state, std::ostream* out)
{
    constexpr const char* names[] = { "Loading", "Unavailable", "Ready", "Waiting", "Installing", "Committing", "Installed" };
    *out << names[static_cast<int>(state)];
}

InstallerHarness::InstallerHarness(FakeDesktop::Background background, platform::BundleInformation own)
    : desktop(background)
{
    installer = std::make_unique<QuillmarkInstaller>(InstallerEnvironment {
        .controls = desktop,
        .desktop = desktop,
        .workspace = desktop,
        .queues = desktop,
        .ownBundle = std::move(own),
        .makeEngine =
            [this]() -> std::shared_ptr<const InstallerBackend> {
                ++engineCreations;
                return engine;
            },
        .volumeIsReadOnly = [this](const platform::FileURL& url) { return volumeAnswer(url); },
        .registerInstalled =
            [this](const platform::FileURL& application) {
                {
                    std::lock_guard lock(registeredLock_);
                    registered_.push_back(application);
                }
                registration(application);
            },
    });
    desktop.setDelegate(*installer);
}

std::vector<platform::FileURL> InstallerHarness::registered() const
{
    std::lock_guard lock(registeredLock_);
    return registered_;
}

InstallerHarness::~InstallerHarness()
{
    // Work still on a thread may wait for the main queue; serve it until it
    // is done, before the controller it refers to goes away.
    desktop.drain();
}

FakeLabel& InstallerHarness::title() const { return dynamic_cast<FakeLabel&>(installer->titleLabel()); }
FakeLabel& InstallerHarness::description() const { return dynamic_cast<FakeLabel&>(installer->descriptionLabel()); }
FakeLabel& InstallerHarness::status() const { return dynamic_cast<FakeLabel&>(installer->statusLabel()); }
FakePopUpButton& InstallerHarness::destinations() const { return dynamic_cast<FakePopUpButton&>(installer->destinations()); }
FakeButton& InstallerHarness::primary() const { return dynamic_cast<FakeButton&>(installer->primary()); }
FakeButton& InstallerHarness::secondary() const { return dynamic_cast<FakeButton&>(installer->secondary()); }
FakeProgressIndicator& InstallerHarness::progress() const { return dynamic_cast<FakeProgressIndicator&>(installer->progress()); }

void InstallerHarness::settle()
{
    desktop.finishBackgroundWork();
    desktop.runMainTasks();
}

void InstallerHarness::becomeReady(std::vector<InstallerLocation> locations)
{
    engine->verify = [](const platform::FileURL&) { return payloadIdentity(); };
    engine->setLocations(std::move(locations));
    installer->applicationDidFinishLaunching();
    settle();
    expectState(State::ready);
}

void InstallerHarness::becomeUnavailable(std::exception_ptr failure)
{
    engine->verify = [failure](const platform::FileURL&) -> InstalledIdentity { std::rethrow_exception(failure); };
    installer->applicationDidFinishLaunching();
    settle();
    expectState(State::unavailable);
}

void InstallerHarness::startInstall()
{
    installer->installOrOpen();
    expectState(State::installing);
}

void InstallerHarness::expectState(State state) const
{
    const auto& controller = *installer;
    bool busy = state == State::loading || state == State::waiting || state == State::installing || state == State::committing;
    EXPECT_EQ(controller.busy(), busy);
    EXPECT_EQ(controller.payload().has_value(), state != State::loading && state != State::unavailable);
    EXPECT_EQ(controller.waiting(), state == State::waiting);
    EXPECT_EQ(controller.committing(), state == State::committing);
    EXPECT_EQ(controller.result().has_value(), state == State::installed);
    EXPECT_EQ(progress().visible, busy);
    EXPECT_EQ(progress().animating, busy);
    EXPECT_EQ(destinations().enabled, state == State::ready);
    switch (state) {
    case State::loading:
    case State::waiting:
    case State::installing:
        EXPECT_FALSE(primary().enabled);
        EXPECT_TRUE(secondary().enabled);
        break;
    case State::committing:
        EXPECT_FALSE(primary().enabled);
        EXPECT_FALSE(secondary().enabled);
        break;
    case State::unavailable:
        EXPECT_EQ(primary().title, "Choose Quillmark.app\u2026");
        EXPECT_TRUE(primary().enabled);
        EXPECT_TRUE(secondary().enabled);
        break;
    case State::ready:
        EXPECT_TRUE(secondary().enabled);
        break;
    case State::installed:
        EXPECT_EQ(primary().title, "Open Quillmark");
        EXPECT_TRUE(primary().enabled);
        EXPECT_EQ(secondary().title, "Done");
        EXPECT_TRUE(secondary().enabled);
        break;
    }
}

} // namespace quillmark::testing
