#pragma once

#include <chrono>

namespace quillmark::sample {

// How the viewer answers a polite quit request (SIGTERM). Tests set it
// through the environment to play a slow or a stubborn application:
//   QUILLMARK_SAMPLE_QUIT_DELAY=N     quit N seconds after the request
//   QUILLMARK_SAMPLE_DECLINE_QUIT=1   ignore SIGTERM altogether; a
//                                     closed window still quits it
struct QuitPolicy {
    bool declines = false;
    std::chrono::milliseconds delay { 0 };
};

QuitPolicy quitPolicyFromEnvironment();

} // namespace quillmark::sample
