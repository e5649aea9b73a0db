#include "platform/seal/write_access.hpp"

#include <csignal>
#include <fcntl.h>

namespace quillmark::platform {

bool noWriterHolds(int fd)
{
    // A read lease is granted only while nobody has the file open for
    // writing, and a writable shared mapping keeps it so opened. The lease
    // is given back at once; should another process open the file for
    // writing in between, the kernel signals the lease's holder, so the
    // signal is first made one that is ignored unless handled, never the
    // default SIGIO that would end the installer.
    if (::fcntl(fd, F_SETSIG, SIGURG) != 0)
        return false;
    if (::fcntl(fd, F_SETLEASE, F_RDLCK) != 0)
        return false;
    ::fcntl(fd, F_SETLEASE, F_UNLCK);
    return true;
}

} // namespace quillmark::platform
