#include "tests/support/scripted_engine.hpp"

namespace quillmark::testing {

InstallerResult followTransaction(const InstallCallbacks& callbacks, const InstallerResult& result)
{
    if (callbacks.cancelled())
        throw CancellationError();
    callbacks.phase("copying");
    if (callbacks.cancelled())
        throw CancellationError();
    callbacks.ensureNotRunning();
    callbacks.phase("committing");
    if (callbacks.cancelled())
        throw CancellationError();
    callbacks.ensureNotRunning();
    return result;
}

InstalledIdentity ScriptedEngine::verifiedPayload(const platform::FileURL& bundle) const
{
    ++verifications;
    if (verify)
        return verify(bundle);
    throw InstallerFailure("The application is missing, is a link, or is not an application folder.");
}

std::vector<InstallerLocation> ScriptedEngine::locations() const
{
    ++locationReads;
    std::lock_guard guard(lock_);
    return locations_;
}

std::vector<KeptCopy> ScriptedEngine::keptCopies() const
{
    ++keptLookups;
    std::lock_guard guard(lock_);
    return kept_;
}

void ScriptedEngine::restoreKeptCopy(const KeptCopy& kept) const { settle(restores, restoreScript, kept); }

void ScriptedEngine::removeKeptCopy(const KeptCopy& kept) const { settle(removals, removeScript, kept); }

void ScriptedEngine::settle(std::atomic<int>& count, const KeptCopyScript& script, const KeptCopy& kept) const
{
    ++count;
    if (script)
        script(kept);
    std::lock_guard guard(lock_);
    std::erase_if(kept_, [&](const KeptCopy& each) { return each.staging == kept.staging; });
}

void ScriptedEngine::setKeptCopies(std::vector<KeptCopy> kept)
{
    std::lock_guard guard(lock_);
    kept_ = std::move(kept);
}

void ScriptedEngine::setLocations(std::vector<InstallerLocation> locations)
{
    std::lock_guard guard(lock_);
    locations_ = std::move(locations);
}

InstallerResult ScriptedEngine::install(const InstalledIdentity& payload, const InstallerLocation& location,
    const InstallCallbacks& callbacks) const
{
    ++installs;
    if (installScript)
        return installScript(payload, location, callbacks);
    return followTransaction(callbacks, { location.root.appendingDirectory("Quillmark.app"), std::nullopt });
}

} // namespace quillmark::testing
