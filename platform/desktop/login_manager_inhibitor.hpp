#pragma once

#include "platform/desktop/shutdown_inhibitor.hpp"

#include <optional>
#include <string>

namespace quillmark::platform {

// Holds off shutdown and suspend through the login manager's "delay"
// inhibitor lock, asked for on the system bus: the login manager waits for
// the lock's release before it goes on, up to the limit it was set up with.
class LoginManagerInhibitor : public ShutdownInhibitor {
public:
    // The system bus; with `busAddress`, the bus at that D-Bus address.
    explicit LoginManagerInhibitor(std::optional<std::string> busAddress = std::nullopt);

    ShutdownDelay delay(std::string_view why) const override;

private:
    std::optional<std::string> busAddress_;
};

} // namespace quillmark::platform
