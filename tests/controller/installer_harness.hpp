#pragma once

#include "controller/quillmark_installer.hpp"
#include "tests/support/fake_desktop.hpp"
#include "tests/support/scripted_engine.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace quillmark::testing {

inline const platform::FileURL systemRoot("/Applications", true);
inline const platform::FileURL userRoot("/home/tester/Applications", true);
// Where the installer bundle lies on its disk image; the payload lies beside it.
inline const platform::FileURL installerBundle("/Volumes/Quillmark 2.4/Install Quillmark.app", true);
inline const platform::FileURL payloadBundle("/Volumes/Quillmark 2.4/Quillmark.app", true);

InstalledIdentity identity(std::string releaseVersion, std::string build,
    platform::FileURL url = platform::FileURL("/Volumes/Quillmark 2.4/Quillmark.app", true));
// What this installer was made for: release 2.4.0, build 241.
InstalledIdentity payloadIdentity();
InstallerLocation newLocation(const platform::FileURL& root);
InstallerLocation installedLocation(const platform::FileURL& root, std::string releaseVersion, std::string build);
InstallerLocation conflictLocation(const platform::FileURL& root, std::string conflict);
// The installer's own bundle with the given keys; an absent value leaves the key out.
platform::BundleInformation installerInformation(std::optional<std::string> releaseVersion = "2.4.0",
    std::optional<std::string> shortVersion = "2.4", std::optional<std::string> build = "241");

enum class State { loading, unavailable, ready, waiting, installing, committing, installed };
void PrintTo(State state, std::ostream* out);

// A controller on a fake desktop with a scripted engine.
class InstallerHarness {
public:
    explicit InstallerHarness(FakeDesktop::Background background = FakeDesktop::Background::byHand,
        platform::BundleInformation own = installerInformation());
    ~InstallerHarness();

    FakeDesktop desktop;
    std::shared_ptr<ScriptedEngine> engine = std::make_shared<ScriptedEngine>();
    std::atomic<int> engineCreations { 0 };
    // The answer of the read-only-volume check; an exception is thrown.
    std::function<bool(const platform::FileURL&)> volumeAnswer = [](const platform::FileURL&) { return true; };
    // Each copy the installer asked to register with the desktop, in order;
    // `registration` runs for it then, off the main thread, and may throw.
    std::vector<platform::FileURL> registered() const;
    std::function<void(const platform::FileURL&)> registration = [](const platform::FileURL&) {};
    std::unique_ptr<QuillmarkInstaller> installer;

    FakeLabel& title() const;
    FakeLabel& description() const;
    FakeLabel& status() const;
    FakePopUpButton& destinations() const;
    FakeButton& primary() const;
    FakeButton& secondary() const;
    FakeProgressIndicator& progress() const;

    // Launches with the payload verified and these locations, and settles in Ready.
    void becomeReady(std::vector<InstallerLocation> locations);
    // Launches with the payload refused by `failure`, and settles in Unavailable.
    void becomeUnavailable(std::exception_ptr failure);
    // Runs background work by hand, then the main queue.
    void settle();
    // Starts installing to the selected location, with nothing running there.
    void startInstall();
    // Checks the flags and controls a state leaves.
    void expectState(State state) const;

private:
    mutable std::mutex registeredLock_;
    std::vector<platform::FileURL> registered_;
};

} // namespace quillmark::testing
