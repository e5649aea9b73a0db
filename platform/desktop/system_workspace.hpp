#pragma once

#include "platform/desktop/workspace.hpp"

namespace quillmark::platform {

// The running applications and the starting of applications on Linux.
//
// A process belongs to a bundle when its program, or for a script its script
// file, is "<X>.app/Contents/MacOS/<name>"; the bundle's identifier comes from
// its Contents/Info.plist. The quit request is SIGTERM to that process alone.
class SystemWorkspace : public Workspace {
public:
    RunningApplications runningApplications() const override;
    // Starts Contents/MacOS/<CFBundleExecutable> in a session of its own,
    // outside the installer's folder, with default signal handling.
    void openApplication(const FileURL& bundle, std::function<void(std::exception_ptr error)> completion) override;
};

} // namespace quillmark::platform
