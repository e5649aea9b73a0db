#include "controller/quillmark_installer.hpp"

#include "controller/installer_texts.hpp"

namespace quillmark {
namespace {

constexpr std::string_view windowTitle = "Install or Update Quillmark";
constexpr std::string_view checkingText = "Checking the application on this disk\u2026";
constexpr std::string_view stoppingText = "Stopping before replacement\u2026";

} // namespace

QuillmarkInstaller::QuillmarkInstaller(InstallerEnvironment environment)
    : environment_(std::move(environment))
    , titleLabel_(environment_.controls.makeWrappingLabel(std::string(windowTitle)))
    , descriptionLabel_(environment_.controls.makeWrappingLabel(std::string(checkingText)))
    , statusLabel_(environment_.controls.makeWrappingLabel(""))
    , destinations_(environment_.controls.makePopUpButton())
    , progress_(environment_.controls.makeProgressIndicator())
    , primary_(environment_.controls.makeButton(std::string(texts::installTitle)))
    , secondary_(environment_.controls.makeButton(std::string(texts::cancelTitle)))
{
    presence_->controller = this;
}

QuillmarkInstaller::~QuillmarkInstaller()
{
    std::lock_guard lock(presence_->mutex);
    presence_->controller = nullptr;
}

void QuillmarkInstaller::applicationDidFinishLaunching()
{
    auto& desktop = environment_.desktop;
    desktop.showWindow(platform::WindowDescription {
        .title = std::string(windowTitle),
        .image = environment_.ownBundle.imageResource("Quillmark"),
        .titleLabel = *titleLabel_,
        .descriptionLabel = *descriptionLabel_,
        .destinations = *destinations_,
        .statusLabel = *statusLabel_,
        .progress = *progress_,
        .secondary = *secondary_,
        .primary = *primary_,
        .primaryAction = [this] { installOrOpen(); },
        .secondaryAction = [this] { cancelOrClose(); },
        .destinationsAction = [this] { locationChanged(); },
    });
    desktop.activate();
    loadPayload(environment_.ownBundle.url().deletingLastComponent().appendingDirectory(texts::applicationFolder));
}

platform::TerminateReply QuillmarkInstaller::applicationShouldTerminate()
{
    if (!busy_)
        return platform::TerminateReply::now;
    // Quitting waits for the running work to report back; its completion
    // asks again.
    quitAfterCancel_ = true;
    cancelOrClose();
    return platform::TerminateReply::cancel;
}

bool QuillmarkInstaller::windowShouldClose()
{
    if (busy_) {
        quitAfterCancel_ = true;
        cancelOrClose();
    } else {
        environment_.desktop.terminate();
    }
    return false;
}

void QuillmarkInstaller::setBusy(bool busy)
{
    busy_ = busy;
    committing_ = false;
    destinations_->setEnabled(payload_.has_value());
    primary_->setEnabled(true);
    secondary_->setEnabled(true);
    progress_->hide();
    progress_->stopAnimation();
}

void QuillmarkInstaller::enterBusy()
{
    busy_ = true;
    destinations_->setEnabled(false);
    primary_->setEnabled(false);
    secondary_->setEnabled(true);
    progress_->show();
    progress_->startAnimation();
}

void QuillmarkInstaller::cancelOrClose()
{
    if (!busy_) {
        environment_.desktop.terminate();
        return;
    }
    if (committing_)
        return;
    // Only a verification runs without a payload, and it cannot be stopped:
    // cancelling it means leaving once it has reported.
    if (!payload_)
        quitAfterCancel_ = true;
    cancellation_->request();
    secondary_->setEnabled(false);
    if (!waiting_) {
        statusLabel_->setText(std::string(stoppingText));
        return;
    }
    if (waitTimer_)
        waitTimer_->invalidate();
    ++generation_;
    waiting_ = false;
    setBusy(false);
    statusLabel_->setText(std::string(texts::installationCancelled));
    if (quitAfterCancel_)
        environment_.desktop.terminate();
}

const InstallerBackend& QuillmarkInstaller::engine() const
{
    std::call_once(engineCreated_, [this] { engine_ = environment_.makeEngine(); });
    return *engine_;
}

std::string errorDescription(std::exception_ptr error)
{
    if (!error)
        return {};
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& known) {
        return known.what();
    } catch (...) {
        return "An unexpected error occurred.";
    }
}

} // namespace quillmark
