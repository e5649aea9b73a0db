#include "controller/quillmark_installer.hpp"

#include "controller/installer_texts.hpp"

namespace quillmark {
namespace {

constexpr std::string_view putBackMessage = "Put back your previous Quillmark?";
constexpr std::string_view removeMessage = "Remove the kept copy of Quillmark?";
constexpr std::string_view putBackTitle = "Put Back Previous Copy";
constexpr std::string_view removeTitle = "Remove Kept Copy";
constexpr std::string_view puttingBackText = "Putting back your previous Quillmark\u2026";
constexpr std::string_view removingText = "Removing the kept copy\u2026";

std::string copyName(const KeptCopy& kept)
{
    return "Quillmark " + kept.previous.releaseVersion + " (build " + kept.previous.build + ")";
}

platform::AlertDescription offerFor(const KeptCopy& kept)
{
    const auto interrupted = "An earlier installation in " + kept.root.path() + " was interrupted. Your previous copy, "
        + copyName(kept) + ", is kept at " + kept.previous.url.path() + ".";
    if (kept.destinationEmpty)
        return {
            .message = std::string(putBackMessage),
            .informativeText = interrupted + " No copy is installed there now. Putting it back restores it as it was.",
            .buttons = { std::string(putBackTitle), std::string(texts::cancelTitle) },
        };
    return {
        .message = std::string(removeMessage),
        .informativeText = interrupted + " Quillmark is installed there, so the kept copy is no longer needed. You can "
                                         "remove it, or leave it where it is.",
        .buttons = { std::string(removeTitle), std::string(texts::cancelTitle) },
    };
}

} // namespace

std::vector<KeptCopy> QuillmarkInstaller::lookForKeptCopies() const
{
    try {
        return engine().keptCopies();
    } catch (...) {
        // Nothing to offer is no reason to keep the person from installing.
        return {};
    }
}

void QuillmarkInstaller::keptCopiesFound(std::vector<KeptCopy> kept)
{
    keptCopies_ = std::move(kept);
    offerNextKeptCopy();
}

void QuillmarkInstaller::offerNextKeptCopy()
{
    if (keptCopies_.empty() || quitAfterCancel_)
        return;
    auto kept = keptCopies_.front();
    environment_.desktop.showAlert(offerFor(kept), [this, kept](long response) {
        if (response == platform::alertFirstButtonReturn) {
            actOnKeptCopy(kept, kept.destinationEmpty ? KeptCopyChoice::putBack : KeptCopyChoice::remove);
            return;
        }
        // Left where it is: the next start offers it again.
        keptCopies_.erase(keptCopies_.begin());
        if (payload_)
            statusLabel_->setText("Your previous copy, " + copyName(kept) + ", stays at " + kept.previous.url.path() + ".");
        offerNextKeptCopy();
    });
}

void QuillmarkInstaller::actOnKeptCopy(const KeptCopy& kept, KeptCopyChoice choice)
{
    enterBusy();
    // A move or a removal is short and cannot be taken back halfway, so it
    // is not offered to cancel; a quit waits for it, as for a commit.
    committing_ = true;
    secondary_->setEnabled(false);
    statusLabel_->setText(std::string(choice == KeptCopyChoice::putBack ? puttingBackText : removingText));
    environment_.queues.runInBackground([this, kept, choice] {
        std::exception_ptr failure;
        try {
            if (choice == KeptCopyChoice::putBack)
                engine().restoreKeptCopy(kept);
            else
                engine().removeKeptCopy(kept);
        } catch (...) {
            failure = std::current_exception();
        }
        environment_.queues.runOnMain(
            [this, kept, choice, error = std::move(failure)] { keptCopyHandled(kept, choice, error); });
    });
}

void QuillmarkInstaller::keptCopyHandled(const KeptCopy& kept, KeptCopyChoice choice, std::exception_ptr error)
{
    setBusy(false);
    if (quitAfterCancel_) {
        environment_.desktop.terminate();
        return;
    }
    keptCopies_.erase(keptCopies_.begin());
    // The pop-up shows what each root holds now, and the person's choice of
    // root stays on the one the kept copy belongs to.
    if (payload_)
        refreshLocations(kept.root);
    if (error)
        statusLabel_->setText(errorDescription(error));
    else if (choice == KeptCopyChoice::putBack)
        statusLabel_->setText("Your previous copy, " + copyName(kept) + ", is back at "
            + kept.root.appendingDirectory(texts::applicationFolder).path() + ".");
    else
        statusLabel_->setText("The kept copy of " + copyName(kept) + " was removed.");
    offerNextKeptCopy();
}

} // namespace quillmark
