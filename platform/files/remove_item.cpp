#include "platform/files/system_file_manager.hpp"

#include "platform/error.hpp"
#include "platform/files/folder_listing.hpp"
#include "platform/unique_fd.hpp"

#include <cerrno>
#include <condition_variable>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quillmark::platform {
namespace {

constexpr std::string_view action = "remove";

// Removing a file waits for the disk far longer than it keeps a processor
// busy: on a volume that discards freed blocks, every unlink waits for the
// device to confirm. Several workers overlap those waits, so an application
// of thousands of files goes in a fraction of the time one would take.
constexpr unsigned removalWorkers = 8;

// A folder whose entries are being removed. Whoever removes its last entry
// removes the folder from its own parent.
struct OpenFolder {
    UniqueFd descriptor;
    std::shared_ptr<OpenFolder> parent;
    std::string name;
    std::string path;
    std::size_t entriesLeft = 0;
};

struct Entry {
    std::shared_ptr<OpenFolder> folder;
    std::string name;
    std::string path;
};

// One removal of one tree. Every step works relative to an open folder and
// never follows a link, so a link swapped in anywhere in the tree is removed
// as a link and nothing outside the tree is touched. The first error stops
// every worker and is the one reported; a folder goes only once everything
// in it has gone, so the failed item and the folders that lead to it stay.
class TreeRemoval {
public:
    TreeRemoval(UniqueFd parent, const std::string& name, const std::string& path)
    {
        // Stands for the folder that holds the tree; it is never removed.
        auto holder = std::make_shared<OpenFolder>();
        holder->descriptor = std::move(parent);
        holder->entriesLeft = 1;
        pending_.push_back(Entry { std::move(holder), name, path });
    }

    void run()
    {
        std::vector<std::jthread> helpers;
        for (unsigned i = 1; i < removalWorkers; ++i) {
            try {
                helpers.emplace_back([this] { work(); });
            } catch (const std::system_error&) {
                break; // fewer workers only make it slower
            }
        }
        work();
        helpers.clear();
        if (error_)
            std::rethrow_exception(error_);
    }

private:
    void work()
    {
        for (;;) {
            Entry entry;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return !pending_.empty() || busy_ == 0 || error_; });
                if (error_ || pending_.empty())
                    return;
                // Last in, first out: the tree is taken depth first, so only
                // the folders on the workers' paths are open at any time.
                entry = std::move(pending_.back());
                pending_.pop_back();
                ++busy_;
            }
            try {
                remove(entry);
            } catch (...) {
                std::lock_guard lock(mutex_);
                if (!error_)
                    error_ = std::current_exception();
            }
            {
                std::lock_guard lock(mutex_);
                --busy_;
            }
            changed_.notify_all();
        }
    }

    void remove(Entry& entry)
    {
        int parent = entry.folder->descriptor.get();
        struct stat status {};
        if (::fstatat(parent, entry.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
            throw fileError(errno, FileAccess::writing, action, entry.path);
        if (!S_ISDIR(status.st_mode)) {
            if (::unlinkat(parent, entry.name.c_str(), 0) != 0)
                throw fileError(errno, FileAccess::writing, action, entry.path);
            entryRemoved(std::move(entry.folder));
            return;
        }

        UniqueFd descriptor(::openat(parent, entry.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!descriptor)
            throw fileError(errno, FileAccess::writing, action, entry.path);
        auto names = namesInFolder(descriptor.get(), entry.path);
        auto folder = std::make_shared<OpenFolder>(
            OpenFolder { std::move(descriptor), std::move(entry.folder), entry.name, entry.path, names.size() });
        if (names.empty()) {
            removeEmptyFolder(std::move(folder));
            return;
        }
        {
            std::lock_guard lock(mutex_);
            for (auto& name : names) {
                auto path = childPath(folder->path, name);
                pending_.push_back(Entry { folder, std::move(name), std::move(path) });
            }
        }
        changed_.notify_all();
    }

    void removeEmptyFolder(std::shared_ptr<OpenFolder> folder)
    {
        folder->descriptor.reset();
        if (::unlinkat(folder->parent->descriptor.get(), folder->name.c_str(), AT_REMOVEDIR) != 0)
            throw fileError(errno, FileAccess::writing, action, folder->path);
        entryRemoved(std::move(folder->parent));
    }

    void entryRemoved(std::shared_ptr<OpenFolder> folder)
    {
        {
            std::lock_guard lock(mutex_);
            if (--folder->entriesLeft != 0)
                return;
        }
        if (folder->parent)
            removeEmptyFolder(std::move(folder));
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Entry> pending_;
    unsigned busy_ = 0;
    std::exception_ptr error_;
};

} // namespace

void SystemFileManager::removeItem(const FileURL& url) const
{
    const std::string& path = url.path();
    if (path == "/")
        throw fileError(EBUSY, FileAccess::writing, action, path);
    auto parentPath = url.deletingLastComponent().path();
    UniqueFd parent(::open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent)
        throw fileError(errno, FileAccess::writing, action, path);
    TreeRemoval(std::move(parent), url.lastComponent(), path).run();
}

} // namespace quillmark::platform
