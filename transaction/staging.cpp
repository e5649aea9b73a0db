#include "transaction/install_transaction.hpp"

#include "platform/files/uuid.hpp"
#include "platform/seal/digests_ahead.hpp"
#include "transaction/install_messages.hpp"

namespace quillmark::transaction {
namespace {

[[noreturn]] void refuse(std::string_view message)
{
    throw InstallerFailure(std::string(message));
}

} // namespace

void InstallTransaction::createStaging()
{
    // A fresh name for every run, inside the root: the swap then consists of
    // renames on one volume, and two installers never share a folder.
    auto staging = root_.appendingDirectory(".Quillmark-install-" + platform::randomUUIDText());
    manager_.createDirectory(staging, platform::MissingParents::fail, 0700);
    staging_ = staging;
    keepStaging_ = false;
    stagedCopy_ = staging.appendingDirectory("Quillmark.app");
    backup_ = staging.appendingDirectory("Previous Quillmark.app");
}

void InstallTransaction::stageVerifiedCopy()
{
    {
        // Each staged file is read back from the disk and hashed on another
        // core as soon as its copy is complete, while the copy goes on. The
        // verification that follows checks the whole tree and the seal as
        // always, and reads again only the files not reached or changed since.
        // How finely the root's volume keeps times decides which of these
        // digests can be trusted later; it is measured in the staging
        // folder, which is on that volume and belongs to this installation.
        stagedDigests_.measureVolumeOf(staging_->path());
        platform::DigestsAhead ahead(stagedDigests_);
        manager_.copyItem(*source_, *stagedCopy_, [&ahead](const std::string& path) { ahead.add(path); });
    }
    auto staged = engine_.verifiedPayload(*stagedCopy_, stagedDigests_);
    stagedObject_.emplace(manager_.holdItem(*stagedCopy_));
    if (!sameVersions(staged, payload_))
        refuse(message::stagedVersionMismatch);
}

void InstallTransaction::makeStagedCopyDurable() const
{
    // Before the installed copy is moved aside, the copy that will replace it
    // must be on the disk: every file's data and every folder's names, then
    // the staging folder's entry for it and the root's entry for the staging
    // folder. A power cut after the swap then finds a complete copy at the
    // destination, never one whose files are still empty.
    manager_.synchronize(*stagedCopy_, platform::SyncScope::itemAndContents);
    manager_.synchronize(*staging_, platform::SyncScope::item);
    manager_.synchronize(root_, platform::SyncScope::item);
}

void InstallTransaction::checkDestinationUnchanged() const
{
    if (engine_.isLink(destination_) || engine_.isLink(root_))
        refuse(message::destinationChanged);

    bool present = manager_.fileExists(destination_);
    if (!previousObject_) {
        if (present)
            refuse(message::applicationAppeared);
        return;
    }
    // Compared by object, not by version: another copy of the same release
    // put in its place is still not what the user reviewed.
    if (!present || engine_.objectIdentity(destination_) != previousObject_->identity())
        refuse(message::installedApplicationChanged);
}

} // namespace quillmark::transaction
