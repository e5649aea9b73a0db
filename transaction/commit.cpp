#include "transaction/install_transaction.hpp"

#include "transaction/install_messages.hpp"

namespace quillmark::transaction {

// The optional hooks run where a failure has an obvious meaning:
// `beforeCommit` after the last running check and right before the installed
// copy is moved aside, so its failure is handled like that check's (nothing
// has moved; clean up and pass the error on); `afterReplace` right after the
// new copy has been moved in and before it is verified, so its failure is
// handled like a failed verification (undo the swap).
InstallerResult InstallTransaction::commit()
{
    reportPhase("committing");
    // The last point where a cancel counts; the controller has stopped
    // offering one by now.
    checkNotCancelled();
    ensureNotRunning();
    if (callbacks_.beforeCommit)
        callbacks_.beforeCommit();
    // The preflight's look at the destination came before two waits for the
    // main thread (the phase report and the running check). Looking again
    // here leaves only this rename between the look and the move, so what
    // goes aside is the very copy recorded under the lock.
    checkDestinationUnchanged();

    holdOffShutdown();
    // Rename within one volume: the installed copy goes whole into the
    // staging folder, and is never deleted before its successor is verified.
    if (hadPrevious_) {
        manager_.moveItem(destination_, *backup_);
        checkMovedAsideIsReviewedCopy();
        record_.step("previous copy moved to " + backup_->path());
    }

    // The destination is empty only between these two renames.
    try {
        manager_.moveItem(*stagedCopy_, destination_);
        record_.step("new copy moved to " + destination_.path());
    } catch (...) {
        if (hadPrevious_)
            restore(std::current_exception());
        throw;
    }

    try {
        if (callbacks_.afterReplace)
            callbacks_.afterReplace();
        // Every file is read again: a digest kept from the staging cannot
        // show that a file stayed the same once it was in place, where
        // another program may have held it mapped for writing.
        engine_.verifiedPayload(destination_);
        record_.step("copy in place verified");
    } catch (...) {
        undo(std::current_exception());
    }

    InstallerResult result { destination_, removeBackupOnceSwapIsDurable() };
    // A leftover may hold the only earlier copy; it goes only once the new
    // one is sure to survive a power cut.
    if (swapIsDurable_)
        removeLeftoverStaging();
    return result;
}

void InstallTransaction::checkMovedAsideIsReviewedCopy()
{
    // The last look at the destination and the rename are two steps: an
    // item another program put there in between went aside instead of the
    // copy the user reviewed. It goes back, and nothing is replaced.
    std::exception_ptr refusal;
    try {
        if (engine_.objectIdentity(*backup_) == previousObject_->identity())
            return;
        refusal = std::make_exception_ptr(InstallerFailure(std::string(message::installedApplicationChanged)));
    } catch (...) {
        refusal = std::current_exception();
    }
    try {
        manager_.moveItem(*backup_, destination_);
    } catch (...) {
        // Whatever it is, it is not ours to delete with the staging folder.
        recoveryFailed(std::current_exception());
    }
    std::rethrow_exception(refusal);
}

std::optional<std::string> InstallTransaction::removeBackupOnceSwapIsDurable()
{
    try {
        // Makes both renames durable before the backup goes: until the
        // root's entry for the new copy is on the disk, a power cut could
        // bring back the state in which the backup is the only copy.
        manager_.synchronize(root_, platform::SyncScope::item);
        manager_.synchronize(*staging_, platform::SyncScope::item);
        swapIsDurable_ = true;
        allowShutdown();
    } catch (const std::exception&) {
        // Without that certainty the backup must stay. A new installation
        // has nothing to keep: its copy is in place and verified.
        if (hadPrevious_) {
            keepStaging_ = true;
            return message::backupNotRemoved(backup_->path());
        }
        return std::nullopt;
    }
    if (!hadPrevious_)
        return std::nullopt;
    try {
        manager_.removeItem(*backup_);
    } catch (const std::exception&) {
        keepStaging_ = true;
        return message::backupNotRemoved(backup_->path());
    }
    return std::nullopt;
}

} // namespace quillmark::transaction
