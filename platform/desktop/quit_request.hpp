#pragma once

#include <sys/types.h>

namespace quillmark::platform {

// Asks process `pid`, started at `startTime` (clock ticks since boot, as
// /proc/<pid>/stat gives it), to quit the way a user would, so it may still
// delay or decline. In order: SIGTERM when the process handles it itself;
// else a close request to each of its own X11 windows; else nothing, and the
// request counts as declined. A process of another user, or one that is no
// longer the one listed, is never asked.
void requestPoliteQuit(pid_t pid, unsigned long long startTime);

// Whether SIGTERM would reach code of the process rather than end it: the
// process catches it, or every thread blocks it and one of its signalfd
// descriptors reads it. A signal blocked for a moment only, with nothing
// reading it, would end the process once unblocked.
bool handlesQuitSignal(pid_t pid);

} // namespace quillmark::platform
