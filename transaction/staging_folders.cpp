#include "transaction/staging_folders.hpp"

#include "platform/regular_expression.hpp"

#include <algorithm>

namespace quillmark::transaction {

platform::FileURL destinationIn(const platform::FileURL& root)
{
    return root.appendingDirectory("Quillmark.app").standardized();
}

platform::FileURL lockFileIn(const platform::FileURL& root)
{
    return root.appendingFile(".Quillmark.install.lock");
}

bool isStagingFolderName(const std::string& name)
{
    static const platform::RegularExpression stagingName(
        R"(^\.Quillmark-install-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$)");
    return stagingName.matches(name);
}

bool isStagingFolder(const platform::FileManager& manager, const platform::FileURL& url)
{
    if (!isStagingFolderName(url.lastComponent()))
        return false;
    try {
        return manager.attributesOfItem(url).type == platform::FileType::directory;
    } catch (...) {
        return false;
    }
}

bool holdsPreviousCopy(const platform::FileManager& manager, const platform::FileURL& staging)
{
    try {
        auto names = manager.contentsOfDirectory(staging);
        return std::find(names.begin(), names.end(), previousCopyName) != names.end();
    } catch (...) {
        return true;
    }
}

} // namespace quillmark::transaction

namespace quillmark::transaction {

std::optional<InstalledIdentity> wholePreviousCopy(const InstallerEngine& engine, const platform::FileURL& staging)
{
    if (!holdsPreviousCopy(engine.manager(), staging))
        return std::nullopt;
    auto copy = staging.appendingDirectory(previousCopyName);
    try {
        if (engine.isLink(copy))
            return std::nullopt;
        return engine.verifiedPayload(copy);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace quillmark::transaction
