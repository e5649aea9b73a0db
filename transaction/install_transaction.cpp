#include "transaction/install_transaction.hpp"

#include "transaction/staging_folders.hpp"

namespace quillmark::transaction {

InstallTransaction::InstallTransaction(const InstallerEngine& engine, const InstalledIdentity& payload,
    const InstallerLocation& location, const InstallCallbacks& callbacks, const platform::KnownDigests* payloadDigests)
    : engine_(engine)
    , manager_(engine.manager())
    , payload_(payload)
    , location_(location)
    , callbacks_(callbacks)
    , payloadDigests_(payloadDigests)
    , root_(location.root)
    , destination_(destinationIn(location.root))
    , lockFile_(lockFileIn(location.root))
    , record_(engine.services().record.get())
{
}

InstallTransaction::~InstallTransaction()
{
    cleanUp();
}

InstallerResult InstallTransaction::run()
{
    record_.begin(payload_, destination_, location_.existing);
    std::optional<platform::FileURL> keptStaging;
    try {
        auto result = steps();
        if (keepStaging_)
            keptStaging = staging_;
        cleanUp();
        recordSuccess(result, keptStaging);
        return result;
    } catch (...) {
        if (keepStaging_)
            keptStaging = staging_;
        cleanUp();
        recordFailure(std::current_exception(), keptStaging);
        throw;
    }
}

InstallerResult InstallTransaction::steps()
{
    checkNotCancelled();
    checkLocationIsSafe();
    checkPayloadUnchanged();
    checkSourceAndDestinationAreSeparate();
    prepareRoot();
    lockRoot();
    record_.step("locked " + lockFile_.path());
    recordDestination();

    checkFreeSpace();
    createStaging();
    record_.step("copying into " + stagedCopy_->path());
    reportPhase("copying");
    stageVerifiedCopy();
    makeStagedCopyDurable();
    record_.step("staged copy verified and on the disk");
    checkNotCancelled();
    ensureNotRunning();
    checkDestinationUnchanged();

    return commit();
}

void InstallTransaction::reportPhase(std::string_view name) const
{
    if (callbacks_.phase)
        callbacks_.phase(name);
}

bool InstallTransaction::cancelled() const
{
    return callbacks_.cancelled && callbacks_.cancelled();
}

void InstallTransaction::ensureNotRunning() const
{
    if (callbacks_.ensureNotRunning)
        callbacks_.ensureNotRunning();
}

std::string describe(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& known) {
        return known.what();
    } catch (...) {
        return "An unknown error stopped it.";
    }
}

bool sameVersions(const InstalledIdentity& a, const InstalledIdentity& b)
{
    return a.version == b.version && a.build == b.build && a.releaseVersion == b.releaseVersion;
}

} // namespace quillmark::transaction
