#pragma once

#include <spawn.h>

namespace quillmark::platform {

// Spawn attributes for a program the installer starts: it begins with the
// signal handling of a fresh program (nothing blocked, every handler the
// default), not with the installer's blocked quit signals. With
// `ownSession`, it also gets a session of its own, so it outlives the
// installer as if started from the desktop.
class FreshProgramAttributes {
public:
    explicit FreshProgramAttributes(bool ownSession);
    ~FreshProgramAttributes();
    FreshProgramAttributes(const FreshProgramAttributes&) = delete;
    FreshProgramAttributes& operator=(const FreshProgramAttributes&) = delete;

    const posix_spawnattr_t* get() const { return &attributes_; }

private:
    posix_spawnattr_t attributes_;
};

} // namespace quillmark::platform
