#pragma once

#include "engine/installer_engine.hpp"
#include "platform/files/lock_file.hpp"
#include "platform/desktop/shutdown_inhibitor.hpp"
#include "platform/seal/known_digests.hpp"
#include "transaction/installation_record.hpp"

#include <exception>
#include <optional>
#include <string>

namespace quillmark::transaction {

// One run of InstallerEngine::install. It checks again what the user
// reviewed, locks the root, stages and verifies a copy, and swaps it in with
// the installed copy kept as a backup until the new one has proved itself.
// Whatever way it ends, the staging folder goes first (unless it holds the
// only remaining previous copy) and the lock is released last.
class InstallTransaction {
public:
    // `payloadDigests`, when given, are those of the payload's load.
    InstallTransaction(const InstallerEngine& engine, const InstalledIdentity& payload, const InstallerLocation& location,
        const InstallCallbacks& callbacks, const platform::KnownDigests* payloadDigests);
    ~InstallTransaction();
    InstallTransaction(const InstallTransaction&) = delete;
    InstallTransaction& operator=(const InstallTransaction&) = delete;

    InstallerResult run();

private:
    InstallerResult steps();
    // Where each copy is once the transaction is over, for the record.
    void recordSuccess(const InstallerResult& result, const std::optional<platform::FileURL>& keptStaging) const noexcept;
    void recordFailure(std::exception_ptr error, const std::optional<platform::FileURL>& keptStaging) const noexcept;

    // Before anything is written (preflight.cpp).
    void checkNotCancelled() const;
    void checkLocationIsSafe() const;
    void checkPayloadUnchanged() const;
    void checkSourceAndDestinationAreSeparate();
    void prepareRoot() const;
    void lockRoot();
    void recordDestination();

    // Before the staging folder is made (free_space.cpp).
    void checkFreeSpace() const;

    // In the staging folder (staging.cpp).
    void createStaging();
    void stageVerifiedCopy();
    void makeStagedCopyDurable() const;
    void checkDestinationUnchanged() const;

    // The swap and its way back (commit.cpp, rollback.cpp).
    InstallerResult commit();
    void checkMovedAsideIsReviewedCopy();
    std::optional<std::string> removeBackupOnceSwapIsDurable();
    void removeLeftoverStaging() const noexcept;
    [[noreturn]] void undo(std::exception_ptr cause);
    [[noreturn]] void restore(std::exception_ptr cause);
    [[noreturn]] void recoveryFailed(std::exception_ptr reason);

    // From the first move of the commit until the swap is on the disk
    // (shutdown_delay.cpp).
    void holdOffShutdown();
    void allowShutdown() noexcept;

    // Every way out (clean_up.cpp).
    void cleanUp() noexcept;

    void reportPhase(std::string_view name) const;
    bool cancelled() const;
    void ensureNotRunning() const;

    const InstallerEngine& engine_;
    const platform::FileManager& manager_;
    const InstalledIdentity& payload_;
    const InstallerLocation& location_;
    const InstallCallbacks& callbacks_;
    const platform::KnownDigests* payloadDigests_;

    const platform::FileURL root_;
    const platform::FileURL destination_;
    const platform::FileURL lockFile_;
    std::optional<platform::FileURL> source_;

    std::optional<platform::LockFile> lock_;
    bool hadPrevious_ = false;
    // The installed copy and the staged copy, each held from the moment its
    // identity is taken to the end of the transaction, so that nothing
    // created meanwhile can share it: only these very objects are ever moved
    // aside or removed from the destination.
    std::optional<platform::HeldItem> previousObject_;

    std::optional<platform::FileURL> staging_;
    std::optional<platform::FileURL> stagedCopy_;
    std::optional<platform::FileURL> backup_;
    std::optional<platform::HeldItem> stagedObject_;
    bool keepStaging_ = false;
    // The digests of the staged files, made on another core as each was
    // copied, for the staged verification: each is read once while staging
    // unless it may have changed since.
    platform::KnownDigests stagedDigests_;
    bool swapIsDurable_ = false;

    InstallationRecord record_;
    std::optional<platform::ShutdownDelay> shutdownDelay_;
};

// The text the user reads for an error: the sentence of an installer
// failure, the platform's description of a platform error.
std::string describe(std::exception_ptr error);

// Whether two identities describe the same release and build; where they lie does not count.
bool sameVersions(const InstalledIdentity& a, const InstalledIdentity& b);

} // namespace quillmark::transaction
