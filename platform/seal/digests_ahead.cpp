#include "platform/seal/digests_ahead.hpp"

#include "platform/seal/open_file_hashing.hpp"
#include "platform/unique_fd.hpp"

#include <fcntl.h>
#include <sys/stat.h>

namespace quillmark::platform {

DigestsAhead::DigestsAhead(KnownDigests& known)
    : known_(known)
    , thread_([this] { run(); })
{
}

DigestsAhead::~DigestsAhead()
{
    stop();
}

void DigestsAhead::add(std::string path)
{
    {
        std::lock_guard guard(lock_);
        pending_.push_back(std::move(path));
    }
    wake_.notify_one();
}

void DigestsAhead::stop()
{
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
        pending_.clear();
    }
    wake_.notify_one();
    if (thread_.joinable())
        thread_.join();
}

void DigestsAhead::run()
{
    FileHasher hasher;
    for (;;) {
        std::string path;
        {
            std::unique_lock guard(lock_);
            wake_.wait(guard, [this] { return stopping_ || !pending_.empty(); });
            if (stopping_)
                return;
            path = std::move(pending_.front());
            pending_.pop_front();
        }
        // Whatever it reaches is recorded by its inode: a path that leads
        // elsewhere meanwhile only records a digest nobody will ask for.
        UniqueFd file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat status {};
        if (!file || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode))
            continue;
        // The file was written a moment ago, often in the present tick of
        // the clock that stamps files.
        auto readBegan = KnownDigests::readBeginsAfter(status.st_ctim);
        Sha256 digest {};
        if (hasher.sha256(file.get(), static_cast<std::uint64_t>(status.st_size), digest) == 0)
            known_.remember(status, digest, readBegan);
    }
}

} // namespace quillmark::platform
