#pragma once

#include "controller/installer_backend.hpp"
#include "engine/records.hpp"
#include "platform/desktop/application_delegate.hpp"
#include "platform/plist/bundle_information.hpp"
#include "platform/desktop/controls.hpp"
#include "platform/desktop/desktop.hpp"
#include "platform/desktop/task_queues.hpp"
#include "platform/desktop/workspace.hpp"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace quillmark {

// Everything the controller works through. The references must outlive it.
struct InstallerEnvironment {
    platform::ControlFactory& controls;
    platform::Desktop& desktop;
    platform::Workspace& workspace;
    platform::TaskQueues& queues;
    // The installer's own bundle: where the payload lies beside it, and the
    // release and build it was made for.
    platform::BundleInformation ownBundle;
    // Builds the engine on first use; called once at most.
    std::function<std::shared_ptr<const InstallerBackend>()> makeEngine;
    std::function<bool(const platform::FileURL&)> volumeIsReadOnly;
    // Makes an installed copy known to the desktop (its menu entry and
    // icon). Blocking disk work, run off the main thread once an installation
    // has succeeded; it may throw. Left empty, nothing is registered.
    std::function<void(const platform::FileURL& application)> registerInstalled;
};

// The installer's application and window delegate: the state of one
// installation and every flow from loading the payload to opening the
// installed copy. Lives on the main thread; only the payload check and the
// installation run elsewhere.
class QuillmarkInstaller : public platform::ApplicationDelegate {
public:
    explicit QuillmarkInstaller(InstallerEnvironment environment);
    ~QuillmarkInstaller() override;
    QuillmarkInstaller(const QuillmarkInstaller&) = delete;
    QuillmarkInstaller& operator=(const QuillmarkInstaller&) = delete;

    // Application and window delegate.
    void applicationDidFinishLaunching() override;
    platform::TerminateReply applicationShouldTerminate() override;
    bool windowShouldClose() override;

    // Actions of the window's controls.
    void installOrOpen();
    void cancelOrClose();
    void locationChanged();

    // The flows, public so that each can be driven on its own.
    void setBusy(bool busy);
    void loadPayload(const platform::FileURL& bundle);
    // Background work: the bundle on a read-only volume, verified, and of the
    // release and build this installer was made for, recording in `digests`
    // what the verification hashed, for the installation's own check of the
    // payload.
    InstalledIdentity validateSource(const platform::FileURL& bundle, platform::KnownDigests& digests) const;
    void choosePayload();
    void refreshLocations(const std::optional<platform::FileURL>& select);
    void prepareInstall(const InstalledIdentity& payload, const InstallerLocation& location);
    void performInstall(const InstalledIdentity& payload, const InstallerLocation& location);
    void openInstalled(const platform::FileURL& application);
    // The live applications with the viewer's identifier that run from the
    // given application bundle, links resolved on both sides.
    platform::RunningApplications running(const platform::FileURL& application) const;

    const InstallerBackend& engine() const;

    // Previous copies that interrupted installations kept, still to be
    // offered to the person, the one on offer first.
    const std::vector<KeptCopy>& keptCopies() const { return keptCopies_; }

    platform::Label& titleLabel() { return *titleLabel_; }
    platform::Label& descriptionLabel() { return *descriptionLabel_; }
    platform::Label& statusLabel() { return *statusLabel_; }
    platform::PopUpButton& destinations() { return *destinations_; }
    platform::ProgressIndicator& progress() { return *progress_; }
    platform::Button& primary() { return *primary_; }
    platform::Button& secondary() { return *secondary_; }

    const std::optional<InstalledIdentity>& payload() const { return payload_; }
    const std::vector<InstallerLocation>& choices() const { return choices_; }
    const std::optional<InstallerResult>& result() const { return result_; }
    bool busy() const { return busy_; }
    bool committing() const { return committing_; }
    bool waiting() const { return waiting_; }
    bool quitAfterCancel() const { return quitAfterCancel_; }
    const std::shared_ptr<InstallCancellation>& cancellation() const { return cancellation_; }
    std::int64_t generation() const { return generation_; }

private:
    void enterBusy();
    void payloadVerified(const InstalledIdentity& identity);
    void payloadRefused(std::exception_ptr error);
    void startWait(const platform::RunningApplications& copies, const InstallerLocation& location,
        const InstalledIdentity& payload);
    void waitTick(platform::RepeatingTimer& timer, std::int64_t wait, const InstallerLocation& location,
        const InstalledIdentity& payload, platform::Desktop::Clock::time_point deadline);
    void installSucceeded(const InstallerResult& result);
    void installFailed(std::exception_ptr error, const InstallerLocation& location);
    void offerUserFolder(const InstallerLocation& failed);
    // Background work: the kept copies in the roots; none when they cannot be looked for.
    std::vector<KeptCopy> lookForKeptCopies() const;
    void keptCopiesFound(std::vector<KeptCopy> kept);
    void offerNextKeptCopy();
    enum class KeptCopyChoice { putBack, remove };
    void actOnKeptCopy(const KeptCopy& kept, KeptCopyChoice choice);
    void keptCopyHandled(const KeptCopy& kept, KeptCopyChoice choice, std::exception_ptr error);
    std::optional<InstallerLocation> selectedLocation() const;

    InstallerEnvironment environment_;
    // Tells late completions whether the controller is still there: the
    // opening of the installed copy reports on its own thread and may come
    // after the installer has quit.
    struct Presence {
        std::mutex mutex;
        QuillmarkInstaller* controller = nullptr;
    };
    std::shared_ptr<Presence> presence_ = std::make_shared<Presence>();

    std::unique_ptr<platform::Label> titleLabel_;
    std::unique_ptr<platform::Label> descriptionLabel_;
    std::unique_ptr<platform::Label> statusLabel_;
    std::unique_ptr<platform::PopUpButton> destinations_;
    std::unique_ptr<platform::ProgressIndicator> progress_;
    std::unique_ptr<platform::Button> primary_;
    std::unique_ptr<platform::Button> secondary_;
    std::optional<InstalledIdentity> payload_;
    // Made by the payload's verification; handed to each installation.
    std::shared_ptr<const platform::KnownDigests> payloadDigests_;
    std::vector<InstallerLocation> choices_;
    std::optional<InstallerResult> result_;
    std::vector<KeptCopy> keptCopies_;
    bool busy_ = false;
    bool committing_ = false;
    bool waiting_ = false;
    bool quitAfterCancel_ = false;
    std::shared_ptr<InstallCancellation> cancellation_ = std::make_shared<InstallCancellation>();
    std::shared_ptr<platform::RepeatingTimer> waitTimer_;
    std::int64_t generation_ = 0;
    // The payload check creates the engine on the background thread while the
    // main thread may ask for it too, so its creation is guarded.
    mutable std::once_flag engineCreated_;
    mutable std::shared_ptr<const InstallerBackend> engine_;
};

// The text of an error as the user reads it: an installer sentence as it is
// written, a platform error in its own words.
std::string errorDescription(std::exception_ptr error);

} // namespace quillmark
