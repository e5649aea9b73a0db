#include "controller/quillmark_installer.hpp"

#include "controller/installer_texts.hpp"

namespace quillmark {

platform::RunningApplications QuillmarkInstaller::running(const platform::FileURL& application) const
{
    // Both sides resolved, so a copy started through a link to the root and
    // one started from the root itself are the same copy.
    auto target = application.standardized().resolvingSymlinks();
    platform::RunningApplications found;
    for (auto& candidate : environment_.workspace.runningApplications()) {
        auto identifier = candidate->bundleIdentifier();
        if (!identifier || *identifier != texts::viewerIdentifier)
            continue;
        auto bundle = candidate->bundleURL();
        if (!bundle || bundle->standardized().resolvingSymlinks().path() != target.path())
            continue;
        if (candidate->isTerminated())
            continue;
        found.push_back(candidate);
    }
    return found;
}

} // namespace quillmark
