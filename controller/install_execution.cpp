#include "controller/quillmark_installer.hpp"

#include "controller/installer_texts.hpp"
#include "platform/seal/known_digests.hpp"

#include <cstdio>

namespace quillmark {
namespace {

constexpr std::string_view copyingText = "Copying and verifying Quillmark\u2026 You can cancel before replacement begins.";
constexpr std::string_view applyingText = "Applying the verified application\u2026";
constexpr std::string_view startedAgainText = "Quillmark started again. Quit it, then try the installation again. Nothing was replaced.";
constexpr std::string_view notOpenedText = "Quillmark was installed, but could not be opened: ";
constexpr std::string_view notListedText = "Quillmark was installed, but could not be added to the applications menu: ";

bool isCancellation(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const CancellationError&) {
        return true;
    } catch (...) {
        return false;
    }
}

// The installation stands whatever happens here: a copy the desktop does not
// list is still installed, so a failure changes no text of the window and is
// said once on standard error.
void registerWithDesktop(const std::function<void(const platform::FileURL&)>& registration,
    const platform::FileURL& application)
{
    if (!registration)
        return;
    try {
        registration(application);
    } catch (...) {
        std::fprintf(stderr, "%s\n", (std::string(notListedText) + errorDescription(std::current_exception())).c_str());
    }
}

bool isPermissionProblem(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& known) {
        return InstallerEngine::permissionError(known);
    } catch (...) {
        return false;
    }
}

} // namespace

void QuillmarkInstaller::performInstall(const InstalledIdentity& payload, const InstallerLocation& location)
{
    auto cancellation = std::make_shared<InstallCancellation>();
    cancellation_ = cancellation;
    enterBusy();
    statusLabel_->setText(std::string(copyingText));

    auto& queues = environment_.queues;
    // Without a payload verified by this controller (never the case once it
    // offers to install), the installation reads the whole payload again.
    auto payloadDigests = payloadDigests_ ? payloadDigests_ : std::make_shared<const platform::KnownDigests>();
    environment_.queues.runInBackground([this, &queues, payload, location, cancellation, payloadDigests,
                                            registration = environment_.registerInstalled] {
        auto application = location.root.appendingDirectory(texts::applicationFolder);
        InstallCallbacks callbacks {
            .cancelled = [cancellation] { return cancellation->test(); },
            .ensureNotRunning =
                [this, &queues, application] {
                    bool startedAgain = false;
                    queues.runOnMainAndWait([&] { startedAgain = !running(application).empty(); });
                    if (startedAgain)
                        throw InstallerFailure(std::string(startedAgainText));
                },
            .phase =
                [this, &queues](std::string_view name) {
                    if (name != "committing")
                        return;
                    // From here on Cancel is refused; the transaction looks at
                    // the cancellation once more only after this has run.
                    queues.runOnMainAndWait([this] {
                        committing_ = true;
                        secondary_->setEnabled(false);
                        statusLabel_->setText(std::string(applyingText));
                    });
                },
            .beforeCommit = {},
            .afterReplace = {},
        };
        std::exception_ptr failure;
        std::optional<InstallerResult> result;
        try {
            result = engine().install(payload, location, callbacks, *payloadDigests);
        } catch (...) {
            failure = std::current_exception();
        }
        if (result) {
            queues.runOnMain([this, result = *result] { installSucceeded(result); });
            // After the report, so the window never waits for it; from here
            // on the controller may be gone, so only copies are used.
            registerWithDesktop(registration, result->installed);
            return;
        }
        // Handed over after the handler and by move: the main thread then
        // holds the only reference and frees the error where it reads it.
        queues.runOnMain([this, error = std::move(failure), location] { installFailed(error, location); });
    });
}

void QuillmarkInstaller::installSucceeded(const InstallerResult& result)
{
    result_ = result;
    setBusy(false);
    destinations_->setEnabled(false);
    if (quitAfterCancel_) {
        environment_.desktop.terminate();
        return;
    }
    titleLabel_->setText("Quillmark is ready");
    if (result.warning)
        statusLabel_->setText(*result.warning);
    else
        statusLabel_->setText("Installed at " + result.installed.path()
            + ". Your documents and preferences were retained. You can eject the installer disk after closing this window.");
    primary_->setTitle("Open Quillmark");
    primary_->setEnabled(true);
    secondary_->setTitle("Done");
}

void QuillmarkInstaller::installFailed(std::exception_ptr error, const InstallerLocation& location)
{
    setBusy(false);
    if (quitAfterCancel_) {
        environment_.desktop.terminate();
        return;
    }
    if (isCancellation(error)) {
        statusLabel_->setText(std::string(texts::installationCancelled));
        return;
    }
    refreshLocations(location.root);
    statusLabel_->setText(errorDescription(error));
    if (isPermissionProblem(error) && !choices_.empty() && choices_.back().root != location.root)
        offerUserFolder(location);
}

void QuillmarkInstaller::offerUserFolder(const InstallerLocation& failed)
{
    auto userRoot = choices_.back().root;
    platform::AlertDescription alert {
        .message = "Install for your user account instead?",
        .informativeText = "This account cannot write to " + failed.root.path() + ". You can install in " + userRoot.path()
            + " without administrator access. An existing copy there will be reviewed first.",
        .buttons = { "Choose My Applications Folder", std::string(texts::cancelTitle) },
    };
    environment_.desktop.showAlert(alert, [this, userRoot](long response) {
        if (response == platform::alertFirstButtonReturn)
            refreshLocations(userRoot);
    });
}

void QuillmarkInstaller::openInstalled(const platform::FileURL& application)
{
    // The completion may come on any thread, and after the installer has
    // quit; the controls live on the main one. While the lock is held the
    // controller, and the queues that outlive it, cannot go away.
    environment_.workspace.openApplication(application, [presence = presence_](std::exception_ptr error) {
        std::lock_guard lock(presence->mutex);
        if (!presence->controller)
            return;
        presence->controller->environment_.queues.runOnMain([presence, error = std::move(error)] {
            // On the main thread, where the controller is destroyed too.
            QuillmarkInstaller* controller = presence->controller;
            if (!controller)
                return;
            if (error)
                controller->statusLabel_->setText(std::string(notOpenedText) + errorDescription(error));
            else
                controller->environment_.desktop.terminate();
        });
    });
}

} // namespace quillmark
