#pragma once

#include "tests/support/temporary_folder.hpp"

#include <functional>
#include <string>

namespace quillmark::testing {

inline constexpr const char* accepted = "accepted";

struct HostileCase {
    const char* name;
    // Writes the bundle at `bundle`; `outside` is a folder beside it holding
    // a valid viewer's "Contents" and a file "secret.txt".
    std::function<void(const std::string& bundle, const std::string& outside)> make;
    std::string inspection; // "accepted" or (part of) the refusal
    std::string verification; // "accepted" or (part of) the refusal; installation says the same
};

// How many cases were tried and how each ended.
struct Tally {
    int cases = 0;
    int refused = 0;
    int installed = 0;
};

// Makes the bundle of `hostile` in a folder of its own inside `folder`, then
// inspects it, verifies it and installs it into a fresh root, checking the
// outcome of each stage and what each leaves on disk.
void attack(const HostileCase& hostile, int index, const TemporaryFolder& folder, Tally& tally);

} // namespace quillmark::testing
