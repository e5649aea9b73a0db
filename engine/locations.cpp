#include "engine/installer_engine.hpp"

namespace quillmark {
namespace {

constexpr std::string_view linkConflict = "This installation location contains a symbolic link. Choose another location.";
constexpr std::string_view occupiedConflict =
    "An unrecognized or damaged application already occupies this location. It will not be overwritten.";

} // namespace

std::vector<InstallerLocation> InstallerEngine::locations() const
{
    std::vector<InstallerLocation> found;
    found.reserve(roots_.size());
    for (const auto& root : roots_) {
        auto bundle = root.appendingDirectory("Quillmark.app");
        InstallerLocation location { root, std::nullopt, std::nullopt };
        if (isLink(root) || isLink(bundle)) {
            location.conflict = std::string(linkConflict);
        } else if (manager_->fileExists(bundle)) {
            try {
                location.existing = metadata(bundle);
            } catch (...) {
                // Whatever is wrong with the copy, the user is told only that
                // it will not be overwritten.
                location.conflict = std::string(occupiedConflict);
            }
        }
        found.push_back(std::move(location));
    }
    return found;
}

} // namespace quillmark
