#pragma once

#include "platform/unique_fd.hpp"

#include <string_view>

namespace quillmark::platform {

// Holds off a shutdown or suspend of the computer for as long as it lives.
class ShutdownDelay {
public:
    explicit ShutdownDelay(UniqueFd hold)
        : hold_(std::move(hold))
    {
    }

private:
    // The login manager keeps its delay while this descriptor is open.
    UniqueFd hold_;
};

// Asks the system to hold off shutdown and suspend while work that must not
// be cut short runs. Throws a platform::Error when it cannot: no login
// manager, or one that refuses.
class ShutdownInhibitor {
public:
    virtual ~ShutdownInhibitor() = default;
    virtual ShutdownDelay delay(std::string_view why) const = 0;
};

} // namespace quillmark::platform
