#include "transaction/install_transaction.hpp"

namespace quillmark::transaction {
namespace {

std::string whatIsAt(const InstallerEngine& engine, const platform::FileURL& destination)
{
    try {
        if (!engine.isLink(destination) && !engine.manager().fileExists(destination))
            return "nothing";
        return describeCopy(engine.metadata(destination));
    } catch (const std::exception& unreadable) {
        return std::string("an item that is not a readable copy (") + unreadable.what() + ")";
    }
}

std::string whatStayed(const std::optional<platform::FileURL>& keptStaging)
{
    if (!keptStaging)
        return "";
    return "; staging folder kept at " + keptStaging->path();
}

} // namespace

void InstallTransaction::recordSuccess(
    const InstallerResult& result, const std::optional<platform::FileURL>& keptStaging) const noexcept
{
    try {
        std::string line = "succeeded: " + whatIsAt(engine_, result.installed) + " at " + result.installed.path();
        if (hadPrevious_)
            line += keptStaging ? "; previous copy kept at " + backup_->path() : "; previous copy removed";
        if (result.warning)
            line += "; told the person: " + *result.warning;
        record_.step(line);
    } catch (...) {
    }
}

void InstallTransaction::recordFailure(
    std::exception_ptr error, const std::optional<platform::FileURL>& keptStaging) const noexcept
{
    try {
        record_.step("failed: " + describe(error) + " At " + destination_.path() + ": " + whatIsAt(engine_, destination_)
            + whatStayed(keptStaging));
    } catch (...) {
    }
}

} // namespace quillmark::transaction
