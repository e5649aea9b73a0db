#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace quillmark::testing {

// A bubblewrap sandbox whose root holds only what a bare desktop has: the
// base-set libraries (with what they load themselves, as a system that has
// them has that too), the fonts, the X11 data and the display's socket; plus
// the folders a test lends it. No Qt, no ICU, no libplist, no OpenSSL.
class BaseSetSandbox {
public:
    // `baseSet` is the repository's list; `display` an X display name (":N").
    BaseSetSandbox(const std::string& baseSet, const std::string& display);

    // The folders of the test, at the same paths inside.
    void lend(const std::string& folder);
    void lendReadOnly(const std::string& folder);

    // The command that runs `arguments` inside the sandbox.
    std::vector<std::string> command(const std::vector<std::string>& arguments) const;

    // The libraries the root holds, by name.
    const std::vector<std::string>& libraries() const { return libraries_; }

private:
    std::vector<std::string> binds_;
    std::vector<std::string> libraries_;
};

// The process below `ancestor` (its child, or theirs) that runs `program`;
// 0 when none appears within `limit`. A sandbox starts the program as a
// child of its own.
pid_t descendantRunning(pid_t ancestor, const std::string& program, std::chrono::milliseconds limit);

} // namespace quillmark::testing
