#include "engine/installer_engine.hpp"

namespace quillmark {
namespace {

std::vector<platform::FileURL> standardizedRoots(std::vector<platform::FileURL> roots)
{
    for (auto& root : roots)
        root = root.standardized();
    return roots;
}

} // namespace

InstallerEngine::InstallerEngine(std::vector<platform::FileURL> roots)
    : InstallerEngine(std::move(roots), platform::systemFileManager())
{
}

InstallerEngine::InstallerEngine(std::vector<platform::FileURL> roots, std::shared_ptr<const platform::FileManager> manager)
    : InstallerEngine(std::move(roots), std::move(manager), {})
{
}

InstallerEngine::InstallerEngine(
    std::vector<platform::FileURL> roots, std::shared_ptr<const platform::FileManager> manager, InstallServices services)
    : roots_(standardizedRoots(std::move(roots)))
    , manager_(std::move(manager))
    , services_(std::move(services))
{
}

} // namespace quillmark
