#pragma once

#include "platform/desktop/workspace.hpp"

namespace quillmark::platform {

// The running applications and the starting of applications on Linux.
//
// Only the processes of the installer's own user are listed. A process belongs
// to a bundle when its program, or for a script its script file, is
// "<X>.app/Contents/MacOS/<name>", or else when a file it has mapped
// executable (even one deleted since) lies inside "<X>.app/Contents/"; the
// bundle's identifier comes from its Contents/Info.plist. The quit request is
// `requestPoliteQuit` (quit_request.hpp): a process is never sent a signal
// that would end it unasked.
class SystemWorkspace : public Workspace {
public:
    RunningApplications runningApplications() const override;
    // Starts Contents/MacOS/<CFBundleExecutable> in a session of its own,
    // outside the installer's folder, with default signal handling.
    void openApplication(const FileURL& bundle, std::function<void(std::exception_ptr error)> completion) override;
};

} // namespace quillmark::platform
