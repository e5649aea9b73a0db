#include "platform/files/system_file_manager.hpp"

#include "platform/error.hpp"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>

namespace quillmark::platform {

void SystemFileManager::moveItem(const FileURL& source, const FileURL& destination) const
{
    // RENAME_NOREPLACE makes "the target is free" and "the item is there" one
    // atomic step: an item that appears at the target meanwhile is never
    // replaced. A rename also never copies, so the item keeps its identity and
    // a move to another volume fails instead of becoming a slow copy.
    if (::renameat2(AT_FDCWD, source.path().c_str(), AT_FDCWD, destination.path().c_str(), RENAME_NOREPLACE) != 0)
        throw fileError(errno, FileAccess::writing, "move \u201C" + source.path() + "\u201D to", destination.path());
}

} // namespace quillmark::platform
