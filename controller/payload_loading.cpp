#include "controller/quillmark_installer.hpp"

#include "controller/installer_texts.hpp"
#include "platform/files/volume_information.hpp"
#include "platform/seal/known_digests.hpp"

namespace quillmark {
namespace {

constexpr std::string_view notReadOnlyText = "Open this installer from its mounted disk image. Keep Quillmark.app beside "
                                             "the installer; the source disk stays read only.";
constexpr std::string_view mismatchText = "The Quillmark application does not match this installer. Use the "
                                          "application supplied on the same disk image.";
constexpr std::string_view descriptionStart = "Install this version or update an existing copy. Your documents, saved "
                                              "appearance and preferences are retained.\nVersion ";
constexpr std::string_view chooseTitle = "Choose Quillmark.app\u2026";
constexpr std::string_view panelTitle = "Choose the Quillmark App on the Installer Disk";
constexpr std::string_view panelMessage = "Select Quillmark.app from the same mounted disk image. It will be checked "
                                          "before installation.";

} // namespace

void QuillmarkInstaller::loadPayload(const platform::FileURL& bundle)
{
    enterBusy();
    environment_.queues.runInBackground([this, bundle] {
        std::exception_ptr failure;
        try {
            auto digests = std::make_shared<platform::KnownDigests>();
            auto identity = validateSource(bundle, *digests);
            // Within the same work, so that no installation the person
            // starts can meet this look at the roots' locks.
            auto kept = lookForKeptCopies();
            environment_.queues.runOnMain([this, identity, digests = std::shared_ptr<const platform::KnownDigests>(digests),
                                              kept = std::move(kept)]() mutable {
                payloadDigests_ = digests;
                payloadVerified(identity);
                keptCopiesFound(std::move(kept));
            });
            return;
        } catch (...) {
            failure = std::current_exception();
        }
        // A copy kept by an interrupted installation may be all the person
        // has left, whatever became of this payload.
        auto kept = lookForKeptCopies();
        // Handed over after the handler and by move: the main thread then
        // holds the only reference and frees the error where it reads it.
        environment_.queues.runOnMain([this, error = std::move(failure), kept = std::move(kept)]() mutable {
            payloadRefused(error);
            keptCopiesFound(std::move(kept));
        });
    });
}

InstalledIdentity QuillmarkInstaller::validateSource(const platform::FileURL& bundle, platform::KnownDigests& digests) const
{
    if (!environment_.volumeIsReadOnly(bundle))
        throw InstallerFailure(std::string(notReadOnlyText));
    auto identity = engine().verifiedPayload(bundle, digests);

    const auto& own = environment_.ownBundle;
    auto expectedRelease = own.string("QuillmarkReleaseVersion");
    if (!expectedRelease)
        expectedRelease = own.string("CFBundleShortVersionString");
    auto expectedBuild = own.string("CFBundleVersion");
    // Equal by the version orderings counts as the same, however written:
    // build 1.2 is build 1.2.0.
    bool matches = InstallerEngine::compareRelease(identity.releaseVersion, expectedRelease.value_or("")) == ComparisonResult::same
        && InstallerEngine::compare(identity.build, expectedBuild.value_or("")) == ComparisonResult::same;
    if (!matches)
        throw InstallerFailure(std::string(mismatchText));
    return identity;
}

void QuillmarkInstaller::payloadVerified(const InstalledIdentity& identity)
{
    payload_ = identity;
    setBusy(false);
    if (quitAfterCancel_) {
        environment_.desktop.terminate();
        return;
    }
    titleLabel_->setText("Quillmark " + identity.releaseVersion);
    descriptionLabel_->setText(std::string(descriptionStart) + identity.releaseVersion + " (build " + identity.build + ")"
        + " \u00B7 Offline installer");
    refreshLocations(std::nullopt);
}

void QuillmarkInstaller::payloadRefused(std::exception_ptr error)
{
    payload_.reset();
    payloadDigests_.reset();
    setBusy(false);
    statusLabel_->setText(errorDescription(error));
    if (quitAfterCancel_) {
        environment_.desktop.terminate();
        return;
    }
    primary_->setTitle(std::string(chooseTitle));
    primary_->setEnabled(true);
}

void QuillmarkInstaller::choosePayload()
{
    platform::OpenPanelDescription panel {
        .title = std::string(panelTitle),
        .message = std::string(panelMessage),
        .initialFolder = platform::volumesFolder(),
    };
    environment_.desktop.showOpenPanel(panel, [this](long response, std::optional<platform::FileURL> chosen) {
        if (response == platform::modalResponseOK && chosen)
            loadPayload(*chosen);
    });
}

} // namespace quillmark
