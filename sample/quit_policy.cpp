#include "sample/quit_policy.hpp"

#include <cstdlib>
#include <string_view>

namespace quillmark::sample {

QuitPolicy quitPolicyFromEnvironment()
{
    QuitPolicy policy;
    if (const char* decline = std::getenv("QUILLMARK_SAMPLE_DECLINE_QUIT"))
        policy.declines = std::string_view(decline) == "1";
    if (const char* delay = std::getenv("QUILLMARK_SAMPLE_QUIT_DELAY")) {
        char* end = nullptr;
        long seconds = std::strtol(delay, &end, 10);
        // A malformed value means no delay, rather than a viewer that never quits.
        if (end != delay && *end == '\0' && seconds > 0 && seconds <= 3600)
            policy.delay = std::chrono::seconds(seconds);
    }
    return policy;
}

} // namespace quillmark::sample
