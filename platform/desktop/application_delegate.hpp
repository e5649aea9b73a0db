#pragma once

namespace quillmark::platform {

enum class TerminateReply { cancel = 0, now = 1 };

// What the application and its window ask of the program. Process entry hands
// the delegate to the desktop implementation before the event loop runs.
class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    // Once, on the main thread, when the event loop has started.
    virtual void applicationDidFinishLaunching() = 0;
    // Asked before every termination (quit menu, window close, SIGTERM,
    // SIGINT, SIGHUP, Desktop::terminate); `now` ends the process.
    virtual TerminateReply applicationShouldTerminate() = 0;
    // Asked when the user closes the window; false keeps it open.
    virtual bool windowShouldClose() = 0;
};

} // namespace quillmark::platform
