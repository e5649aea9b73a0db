#pragma once

#include <memory>
#include <string>
#include <sys/types.h>

namespace quillmark::testing {

// A D-Bus session bus and an accessibility bus of the test's own, for the
// display `display`: the session bus listens inside `folder`, and the
// accessibility bus launcher registers on it, as a desktop session would.
// An application started with `sessionAddress()` as its session bus (and
// nothing else pointing at a bus) appears there; a reader in this process
// finds it after `useInThisProcess()`. Both buses stop on destruction.
class PrivateAccessibilityBus {
public:
    // Null, with the reason in `whyNot`, when a bus program is missing or
    // does not start.
    static std::unique_ptr<PrivateAccessibilityBus> start(const std::string& folder, const std::string& display,
        std::string& whyNot);
    ~PrivateAccessibilityBus();
    PrivateAccessibilityBus(const PrivateAccessibilityBus&) = delete;
    PrivateAccessibilityBus& operator=(const PrivateAccessibilityBus&) = delete;

    const std::string& sessionAddress() const { return sessionAddress_; }
    // Points this process's session bus at this one, so that the
    // accessibility library finds the accessibility bus through it.
    void useInThisProcess() const;

private:
    PrivateAccessibilityBus() = default;

    std::string sessionAddress_;
    pid_t sessionBus_ = -1;
    pid_t launcher_ = -1;
};

} // namespace quillmark::testing
