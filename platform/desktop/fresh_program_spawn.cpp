#include "platform/desktop/fresh_program_spawn.hpp"

#include <csignal>

namespace quillmark::platform {

FreshProgramAttributes::FreshProgramAttributes(bool ownSession)
{
    ::posix_spawnattr_init(&attributes_);
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    ::posix_spawnattr_setsigmask(&attributes_, &none);
    ::posix_spawnattr_setsigdefault(&attributes_, &all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (ownSession)
        flags |= POSIX_SPAWN_SETSID;
    ::posix_spawnattr_setflags(&attributes_, flags);
}

FreshProgramAttributes::~FreshProgramAttributes()
{
    ::posix_spawnattr_destroy(&attributes_);
}

} // namespace quillmark::platform
