#pragma once

#include "sample/quit_policy.hpp"

namespace quillmark::sample {

// Must run first in main, before any thread exists: SIGTERM and SIGINT are
// blocked so that they wait for the event loop instead of killing the
// process. A declining policy ignores SIGTERM instead.
void holdQuitSignals(const QuitPolicy& policy);

// Once the application object exists: a quit signal makes the event loop end
// normally (exit status 0), after the policy's delay.
void quitEventLoopOnSignal(const QuitPolicy& policy);

} // namespace quillmark::sample
