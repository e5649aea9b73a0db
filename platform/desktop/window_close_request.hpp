#pragma once

#include <sys/types.h>

namespace quillmark::platform {

// Asks every top-level window of process `pid` on the installer's X11 display
// (the one in DISPLAY) to close, the way a window manager's close button
// does, so the application can still ask to save. Only windows that take
// that request, and whose creating client the server itself names as `pid`
// (the X Resource extension), are asked; a server without that extension
// asks none. Returns how many windows were asked: 0 when there
// is no display or the process has no such window there.
int askWindowsToClose(pid_t pid);

} // namespace quillmark::platform
