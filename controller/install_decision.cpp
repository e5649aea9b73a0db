#include "controller/quillmark_installer.hpp"

#include "controller/installer_texts.hpp"

#include <chrono>

namespace quillmark {
namespace {

using namespace std::chrono_literals;

constexpr auto pollInterval = 300ms;
constexpr auto waitLimit = 30s;

constexpr std::string_view waitingText = "Waiting for Quillmark to quit\u2026 You can cancel.";
constexpr std::string_view stillRunningText = "Quillmark is still running. Quit it manually, then try again. Nothing was replaced.";

platform::AlertDescription olderVersionAlert(const InstalledIdentity& payload, const InstallerLocation& location)
{
    const auto& installed = *location.existing;
    return {
        .message = "Install an older Quillmark version?",
        .informativeText = "Installed: " + installed.releaseVersion + " (build " + installed.build + ")" + "\nIncoming: "
            + payload.releaseVersion + " (build " + payload.build + ")" + "\n"
            + location.root.appendingDirectory(texts::applicationFolder).path()
            + "\nYour preferences are retained, but older versions may not understand settings saved by a newer release.",
        .buttons = { "Install Older Version", std::string(texts::cancelTitle) },
    };
}

platform::AlertDescription quitAlert(const InstallerLocation& location)
{
    return {
        .message = "Quit Quillmark before continuing?",
        .informativeText = "The copy at " + location.root.appendingDirectory(texts::applicationFolder).path()
            + " is running. Quillmark will be asked to quit normally. No process will be forcibly stopped.",
        .buttons = { "Quit and Continue", std::string(texts::cancelTitle) },
    };
}

} // namespace

void QuillmarkInstaller::installOrOpen()
{
    if (busy_)
        return;
    if (result_) {
        openInstalled(result_->installed);
        return;
    }
    if (!payload_) {
        choosePayload();
        return;
    }
    auto location = selectedLocation();
    if (!location || location->conflict)
        return;
    if (InstallerEngine::operation(*payload_, location->existing) != InstallOperation::olderVersion) {
        prepareInstall(*payload_, *location);
        return;
    }
    environment_.desktop.showAlert(olderVersionAlert(*payload_, *location),
        [this, payload = *payload_, location = *location](long response) {
            if (response == platform::alertFirstButtonReturn)
                prepareInstall(payload, location);
        });
}

void QuillmarkInstaller::prepareInstall(const InstalledIdentity& payload, const InstallerLocation& location)
{
    if (busy_)
        return;
    auto copies = running(location.root.appendingDirectory(texts::applicationFolder));
    if (copies.empty()) {
        performInstall(payload, location);
        return;
    }
    environment_.desktop.showAlert(quitAlert(location), [this, copies, location, payload](long response) {
        if (response == platform::alertFirstButtonReturn)
            startWait(copies, location, payload);
    });
}

void QuillmarkInstaller::startWait(const platform::RunningApplications& copies, const InstallerLocation& location,
    const InstalledIdentity& payload)
{
    cancellation_ = std::make_shared<InstallCancellation>();
    ++generation_;
    auto wait = generation_;
    enterBusy();
    waiting_ = true;
    statusLabel_->setText(std::string(waitingText));
    for (const auto& copy : copies)
        copy->requestQuit();
    auto deadline = environment_.desktop.now() + waitLimit;
    waitTimer_ = environment_.desktop.scheduleRepeatingTimer(pollInterval,
        [this, wait, location, payload, deadline](platform::RepeatingTimer& timer) {
            waitTick(timer, wait, location, payload, deadline);
        });
}

void QuillmarkInstaller::waitTick(platform::RepeatingTimer& timer, std::int64_t wait, const InstallerLocation& location,
    const InstalledIdentity& payload, platform::Desktop::Clock::time_point deadline)
{
    // A tick already on its way when its wait was ended belongs to no wait.
    if (generation_ != wait || cancellation_->test()) {
        timer.invalidate();
        return;
    }
    // Asked again on every tick: a copy started after the alert keeps the
    // wait going too.
    if (running(location.root.appendingDirectory(texts::applicationFolder)).empty()) {
        timer.invalidate();
        waiting_ = false;
        setBusy(false);
        performInstall(payload, location);
        return;
    }
    if (environment_.desktop.now() > deadline) {
        timer.invalidate();
        waiting_ = false;
        setBusy(false);
        statusLabel_->setText(std::string(stillRunningText));
    }
}

} // namespace quillmark
