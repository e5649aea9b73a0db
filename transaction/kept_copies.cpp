#include "engine/installer_engine.hpp"

#include "platform/files/lock_file.hpp"
#include "transaction/install_messages.hpp"
#include "transaction/install_transaction.hpp"
#include "transaction/staging_folders.hpp"

#include <algorithm>

namespace quillmark {
namespace {

using transaction::destinationIn;
using transaction::holdsPreviousCopy;
using transaction::isStagingFolder;
using transaction::lockFileIn;
using transaction::previousCopyName;

// Staging folders in the root that hold a previous copy. Read without the
// lock, to learn whether the lock is worth taking at all.
std::vector<platform::FileURL> stagingWithCopies(const platform::FileManager& manager, const platform::FileURL& root)
{
    std::vector<platform::FileURL> found;
    for (const auto& name : manager.contentsOfDirectory(root)) {
        auto staging = root.appendingDirectory(name);
        if (isStagingFolder(manager, staging) && holdsPreviousCopy(manager, staging))
            found.push_back(staging);
    }
    return found;
}

std::optional<platform::LockFile> tryLock(const platform::FileURL& root)
{
    try {
        auto lock = platform::LockFile::open(lockFileIn(root));
        lock.lockExclusively();
        return lock;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// Only a staging folder directly inside one of the engine's roots is ever
// changed, whatever the caller hands in.
void checkKeptCopyPlace(const InstallerEngine& engine, const KeptCopy& kept)
{
    const auto& roots = engine.roots();
    if (std::find(roots.begin(), roots.end(), kept.root) == roots.end() || engine.isLink(kept.root)
        || kept.staging.deletingLastComponent().path() != kept.root.path())
        throw InstallerFailure(std::string(transaction::message::unsafeLocation));
}

platform::LockFile lockForChange(const platform::FileURL& root)
{
    auto lock = platform::LockFile::open(lockFileIn(root));
    try {
        lock.lockExclusively();
    } catch (const std::exception&) {
        throw InstallerFailure(std::string(transaction::message::lockHeld));
    }
    return lock;
}

} // namespace

std::vector<KeptCopy> InstallerEngine::keptCopies() const
{
    std::vector<KeptCopy> kept;
    for (const auto& root : roots_) {
        try {
            if (isLink(root) || !manager_->fileExists(root) || stagingWithCopies(*manager_, root).empty())
                continue;
            // Under the lock no installer is at work in this root, so a
            // staging folder found now belongs to one that ended without
            // tidying up. A lock held elsewhere means one is at work: its
            // staging folder is no leftover, and it is left in peace.
            auto lock = tryLock(root);
            if (!lock)
                continue;
            auto destination = destinationIn(root);
            bool destinationEmpty = !isLink(destination) && !manager_->fileExists(destination);
            for (const auto& staging : stagingWithCopies(*manager_, root)) {
                // A copy that is not whole is nothing the person could put back.
                if (auto copy = transaction::wholePreviousCopy(*this, staging))
                    kept.push_back({ root, staging, *copy, destinationEmpty });
            }
        } catch (const std::exception&) {
            // A root that cannot be looked at has nothing to tell.
        }
    }
    return kept;
}

void InstallerEngine::restoreKeptCopy(const KeptCopy& kept) const
{
    const auto& root = kept.root;
    checkKeptCopyPlace(*this, kept);

    auto lock = lockForChange(root);
    auto copy = kept.staging.appendingDirectory(previousCopyName);
    if (!isStagingFolder(*manager_, kept.staging) || isLink(copy))
        throw InstallerFailure(std::string(transaction::message::keptCopyChanged));
    // Held from here on, so that only this very object can be what arrives
    // at the destination.
    auto held = manager_->holdItem(copy);
    if (!transaction::sameVersions(verifiedPayload(copy), kept.previous))
        throw InstallerFailure(std::string(transaction::message::keptCopyChanged));

    auto destination = destinationIn(root);
    if (isLink(destination) || manager_->fileExists(destination))
        throw InstallerFailure(std::string(transaction::message::destinationOccupied));
    // Never replaces anything: another program's item that arrived since
    // the look above makes the move fail.
    manager_->moveItem(copy, destination);
    if (objectIdentity(destination) != held.identity())
        throw InstallerFailure(std::string(transaction::message::newDestinationChanged));
    // The root's entry for the copy must be on the disk before the folder
    // it came from goes; until then a power cut could bring back the state
    // in which the staging folder holds the only copy.
    manager_->synchronize(root, platform::SyncScope::item);
    try {
        manager_->removeItem(kept.staging);
    } catch (const std::exception&) {
        // What is left holds no previous copy; a later installation tidies it.
    }
}

void InstallerEngine::removeKeptCopy(const KeptCopy& kept) const
{
    const auto& root = kept.root;
    checkKeptCopyPlace(*this, kept);

    auto lock = lockForChange(root);
    if (!isStagingFolder(*manager_, kept.staging))
        throw InstallerFailure(std::string(transaction::message::keptCopyChanged));
    // The kept copy may have become the only one since it was found.
    auto destination = destinationIn(root);
    if (isLink(destination) || !manager_->fileExists(destination))
        throw InstallerFailure(transaction::message::noCopyInstalled(destination.path()));
    manager_->removeItem(kept.staging);
}

} // namespace quillmark
