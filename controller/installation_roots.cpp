#include "controller/installation_roots.hpp"

namespace quillmark {

std::vector<platform::FileURL> installationRoots(const platform::FileManager& manager)
{
    return {
        platform::FileURL("/Applications", true),
        manager.homeDirectoryForCurrentUser().appendingDirectory("Applications"),
    };
}

} // namespace quillmark
