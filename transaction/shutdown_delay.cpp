#include "transaction/install_transaction.hpp"

namespace quillmark::transaction {

void InstallTransaction::holdOffShutdown()
{
    const auto& inhibitor = engine_.services().inhibitor;
    if (!inhibitor)
        return;
    try {
        shutdownDelay_.emplace(inhibitor->delay("Replacing Quillmark"));
        record_.step("shutdown and sleep held off");
    } catch (const std::exception& refusal) {
        // A computer without a login manager simply cannot be asked; the
        // replacement is as safe as before, only not shielded from a
        // shutdown, and that is what the record says.
        record_.step(std::string("shutdown and sleep not held off: ") + refusal.what());
    }
}

void InstallTransaction::allowShutdown() noexcept
{
    if (!shutdownDelay_)
        return;
    shutdownDelay_.reset();
    record_.step("shutdown and sleep allowed again");
}

} // namespace quillmark::transaction
