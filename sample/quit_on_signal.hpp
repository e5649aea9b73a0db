#pragma once

#include "sample/quit_policy.hpp"

namespace quillmark::sample {

// Must run first in main, before any thread exists: SIGTERM and SIGINT are
// blocked so that they wait for the event loop instead of killing the
// process, and read through the signalfd returned (-1 when it could not be
// made). A declining policy ignores SIGTERM instead.
int holdQuitSignals(const QuitPolicy& policy);

// Once the application object exists: a quit signal read from `fd` makes the
// event loop end normally (exit status 0), after the policy's delay.
void quitEventLoopOnSignal(int fd, const QuitPolicy& policy);

} // namespace quillmark::sample
