#pragma once

#include "controller/installer_backend.hpp"

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

namespace quillmark::testing {

// Calls the callbacks in the order and at the points where the install
// transaction calls them, stopping where it would stop, and returns `result`.
InstallerResult followTransaction(const InstallCallbacks& callbacks, const InstallerResult& result);

// An engine whose answers the test scripts. Set it up before the controller
// uses it; the counters may be read at any time.
class ScriptedEngine : public InstallerBackend {
public:
    using Verify = std::function<InstalledIdentity(const platform::FileURL&)>;
    using Install = std::function<InstallerResult(const InstalledIdentity&, const InstallerLocation&, const InstallCallbacks&)>;

    InstalledIdentity verifiedPayload(const platform::FileURL& bundle) const override;
    std::vector<InstallerLocation> locations() const override;
    InstallerResult install(const InstalledIdentity& payload, const InstallerLocation& location,
        const InstallCallbacks& callbacks) const override;

    std::vector<KeptCopy> keptCopies() const override;
    void restoreKeptCopy(const KeptCopy& kept) const override;
    void removeKeptCopy(const KeptCopy& kept) const override;

    void setLocations(std::vector<InstallerLocation> locations);
    // What keptCopies() finds; a copy put back or removed is found no more.
    void setKeptCopies(std::vector<KeptCopy> kept);

    // By default every bundle is refused as inspection refuses a missing one.
    Verify verify;
    // By default the transaction's order of callbacks, ending in success.
    Install installScript;
    // Runs when a kept copy is put back or removed, and may throw; by
    // default both succeed.
    using KeptCopyScript = std::function<void(const KeptCopy&)>;
    KeptCopyScript restoreScript;
    KeptCopyScript removeScript;

    mutable std::atomic<int> verifications { 0 };
    mutable std::atomic<int> locationReads { 0 };
    mutable std::atomic<int> installs { 0 };
    mutable std::atomic<int> keptLookups { 0 };
    mutable std::atomic<int> restores { 0 };
    mutable std::atomic<int> removals { 0 };

private:
    // Counts the call, runs the script, and forgets the copy unless it threw.
    void settle(std::atomic<int>& count, const KeptCopyScript& script, const KeptCopy& kept) const;

    mutable std::mutex lock_;
    std::vector<InstallerLocation> locations_;
    mutable std::vector<KeptCopy> kept_;
};

} // namespace quillmark::testing
