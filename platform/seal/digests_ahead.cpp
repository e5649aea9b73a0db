#include "platform/seal/digests_ahead.hpp"

#include "platform/seal/open_file_hashing.hpp"
#include "platform/unique_fd.hpp"

#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>

namespace quillmark::platform {
namespace {

// Longer than any step a volume's clock is measured to have (2 s): a
// change time further ahead than that comes from a clock set back, and its
// digest would never be kept.
constexpr std::chrono::milliseconds longestWait { 2'100 };

std::chrono::nanoseconds until(const timespec& moment)
{
    auto now = KnownDigests::readBegins();
    return std::chrono::seconds(moment.tv_sec - now.tv_sec) + std::chrono::nanoseconds(moment.tv_nsec - now.tv_nsec);
}

} // namespace

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

bool DigestsAhead::waitFor(const timespec& moment)
{
    std::unique_lock guard(lock_);
    for (auto left = until(moment); left > std::chrono::nanoseconds::zero(); left = until(moment)) {
        if (stopping_ || left > longestWait)
            return false;
        // The coarse clock advances in ticks of a few milliseconds; a
        // little past the moment is soon enough.
        wake_.wait_for(guard, left + std::chrono::milliseconds(1));
    }
    return !stopping_;
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
        // The file was written a moment ago, in the present step of its
        // volume's clock: a read may begin only once that step is over, or
        // its digest could not be kept. The copy goes on meanwhile.
        auto keptFrom = known_.keptFromReadsBeginning(status);
        if (!keptFrom || !waitFor(*keptFrom))
            continue;
        auto readBegan = KnownDigests::readBegins();
        if (::fstat(file.get(), &status) != 0)
            continue;
        // Changed again while waiting, or held by a writer: not read at all.
        auto kept = known_.keptRead(file.get(), status, readBegan);
        if (!kept)
            continue;
        Sha256 digest {};
        if (hasher.sha256(file.get(), static_cast<std::uint64_t>(status.st_size), digest) == 0)
            known_.remember(*kept, digest);
    }
}

} // namespace quillmark::platform
