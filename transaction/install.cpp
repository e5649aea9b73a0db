#include "engine/installer_engine.hpp"

#include "transaction/install_transaction.hpp"

namespace quillmark {

InstallerResult InstallerEngine::install(
    const InstalledIdentity& payload, const InstallerLocation& location, const InstallCallbacks& callbacks) const
{
    transaction::InstallTransaction transaction(*this, payload, location, callbacks, nullptr);
    return transaction.run();
}

InstallerResult InstallerEngine::install(const InstalledIdentity& payload, const InstallerLocation& location,
    const InstallCallbacks& callbacks, const platform::KnownDigests& payloadDigests) const
{
    transaction::InstallTransaction transaction(*this, payload, location, callbacks, &payloadDigests);
    return transaction.run();
}

} // namespace quillmark
