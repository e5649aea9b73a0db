#include "platform/system_file_manager.hpp"

#include "platform/error.hpp"
#include "platform/folder_listing.hpp"
#include "platform/unique_fd.hpp"

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace quillmark::platform {
namespace {

constexpr std::string_view action = "finish writing";

using Visit = std::function<void(int item, bool isFolder, const std::string& path)>;

// Visits every file and folder of the tree, each folder after everything in
// it. Links and other kinds of item are passed over: they cannot be opened
// without following them or disturbing them, and their names and contents
// live in their folder, which is visited.
void walk(int parent, const std::string& name, const std::string& path, SyncScope scope, const Visit& visit)
{
    struct stat status {};
    if (::fstatat(parent, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        throw fileError(errno, FileAccess::writing, action, path);
    bool isFolder = S_ISDIR(status.st_mode);
    if (!isFolder && !S_ISREG(status.st_mode))
        return;
    UniqueFd item(::openat(parent, name.c_str(),
        O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | (isFolder ? O_DIRECTORY : 0)));
    if (!item)
        throw fileError(errno, FileAccess::writing, action, path);
    if (isFolder && scope == SyncScope::itemAndContents) {
        for (const auto& child : namesInFolder(item.get(), path))
            walk(item.get(), child, childPath(path, child), scope, visit);
    }
    visit(item.get(), isFolder, path);
}

} // namespace

void SystemFileManager::synchronize(const FileURL& url, SyncScope scope) const
{
    const std::string& path = url.path();
    auto parentPath = url.deletingLastComponent().path();
    UniqueFd parent(::open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent)
        throw fileError(errno, FileAccess::writing, action, path);
    if (path == "/") {
        if (::fsync(parent.get()) != 0)
            throw fileError(errno, FileAccess::writing, action, path);
        return;
    }
    auto name = url.lastComponent();

    if (scope == SyncScope::itemAndContents) {
        // First every file's data, without asking the journal for anything:
        // blocks are allocated as the data goes out, and if each fsync below
        // found its own allocation still pending it would force a journal
        // commit of its own, thousands of them for one application.
        walk(parent.get(), name, path, scope, [](int item, bool isFolder, const std::string& itemPath) {
            constexpr unsigned wholeWriteOut
                = SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
            if (!isFolder && ::sync_file_range(item, 0, 0, wholeWriteOut) != 0)
                throw fileError(errno, FileAccess::writing, action, itemPath);
        });
    }
    // Then fsync, which makes the data and the names durable: the first
    // call commits what all the others need, and a folder's names go to the
    // disk only after whatever they name.
    walk(parent.get(), name, path, scope, [](int item, bool, const std::string& itemPath) {
        if (::fsync(item) != 0)
            throw fileError(errno, FileAccess::writing, action, itemPath);
    });
}

} // namespace quillmark::platform
