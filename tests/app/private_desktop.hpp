#pragma once

#include "tests/support/child_process.hpp"

#include <memory>
#include <optional>
#include <string>

namespace quillmark::testing {

// The full path of a program found on PATH, or nothing.
std::optional<std::string> programOnPath(const std::string& name);

// An X server of the test's own, on a display number no one else uses.
class VirtualDisplay {
public:
    // Null, with the reason in `whyNot`, when Xvfb is missing or does not start.
    static std::unique_ptr<VirtualDisplay> start(std::string& whyNot);
    ~VirtualDisplay();

    const std::string& name() const { return name_; }

private:
    VirtualDisplay(std::string name, std::unique_ptr<ChildProcess> server);

    std::string name_;
    std::unique_ptr<ChildProcess> server_;
};

// Moves this test process into a mount namespace of its own in which the
// squashfs `image` is mounted read-only at `volume`, the whole system is
// read-only except `writable`, and an existing /Applications is an empty
// read-only folder. Children started afterwards share that view, so nothing
// they do reaches the real system. False, with the reason in `whyNot`, when
// this process may not do so.
bool isolateWithDiskImage(const std::string& writable, const std::string& image, const std::string& volume,
    std::string& whyNot);
// Gives the system back its writable view and unmounts the disk image, so
// that later tests in this process start from the real system again.
void leaveIsolation(const std::string& writable, const std::string& volume);

} // namespace quillmark::testing
