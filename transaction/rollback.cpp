#include "transaction/install_transaction.hpp"

#include "transaction/install_messages.hpp"

namespace quillmark::transaction {

// The new copy is (or was) at the destination and must go; `cause` is what
// went wrong with it. Only the very object this installation moved there is
// ever removed.
void InstallTransaction::undo(std::exception_ptr cause)
{
    if (!manager_.fileExists(destination_)) {
        if (hadPrevious_)
            restore(cause);
        std::rethrow_exception(cause);
    }

    std::string identity;
    try {
        identity = engine_.objectIdentity(destination_);
    } catch (...) {
        recoveryFailed(std::current_exception());
    }
    if (identity != stagedObject_->identity())
        recoveryFailed(std::make_exception_ptr(InstallerFailure(std::string(message::newDestinationChanged))));

    try {
        manager_.removeItem(destination_);
    } catch (...) {
        recoveryFailed(std::current_exception());
    }
    record_.step("new copy removed from " + destination_.path());

    if (hadPrevious_)
        restore(cause);
    std::rethrow_exception(cause);
}

// The previous copy lies in the staging folder and goes back; `cause` is the
// error the caller gets once it is back.
void InstallTransaction::restore(std::exception_ptr cause)
{
    // Never moved over anything: what is there now belongs to someone else.
    if (manager_.fileExists(destination_))
        recoveryFailed(std::make_exception_ptr(InstallerFailure(std::string(message::destinationOccupied))));

    try {
        manager_.moveItem(*backup_, destination_);
    } catch (...) {
        recoveryFailed(std::current_exception());
    }
    record_.step("previous copy put back at " + destination_.path());

    try {
        // The staging folder is removed next; the root's entry for the
        // restored copy must be on the disk before that.
        manager_.synchronize(root_, platform::SyncScope::item);
    } catch (const std::exception&) {
        // The copy is back in the file system's view; a failed sync cannot
        // be mended here and the original error matters more to the user.
    }
    std::rethrow_exception(cause);
}

void InstallTransaction::recoveryFailed(std::exception_ptr reason)
{
    // The staging folder may hold the only previous copy now; it stays.
    keepStaging_ = true;
    if (hadPrevious_)
        throw InstallerFailure(message::recoveryFailed(backup_->path(), describe(reason)));
    throw InstallerFailure(message::newInstallRecoveryFailed(destination_.path(), describe(reason)));
}

} // namespace quillmark::transaction
