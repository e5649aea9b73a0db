#pragma once

#include "tests/support/running_child.hpp"

#include <memory>
#include <string>
#include <vector>

namespace quillmark::testing {

// A private bus of its own (dbus-daemon with a configuration written here)
// with the login-manager stand-in on it, for as long as the object lives.
class PrivateLoginManager {
public:
    enum class Answer { grant, refuse };

    // Null, with the reason in `whyNot`, when dbus-daemon is not installed.
    static std::unique_ptr<PrivateLoginManager> start(const std::string& folder, Answer answer, std::string& whyNot);
    ~PrivateLoginManager();

    const std::string& address() const { return address_; }
    // What the stand-in reported, line by line, so far.
    std::vector<std::string> events() const;
    // Waits (generously) until the stand-in has reported `count` lines.
    bool waitForEvents(std::size_t count) const;

private:
    PrivateLoginManager() = default;

    std::string address_;
    std::string report_;
    std::unique_ptr<RunningChild> bus_;
    std::unique_ptr<RunningChild> standIn_;
};

} // namespace quillmark::testing
