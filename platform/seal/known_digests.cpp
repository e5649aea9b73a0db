#include "platform/seal/known_digests.hpp"

namespace quillmark::platform {
namespace {

bool before(const timespec& a, const timespec& b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

bool same(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

} // namespace

timespec KnownDigests::readBegins()
{
    // The coarse clock is the one the kernel stamps files with; a finer
    // reading could lie after a stamp given later in the same tick.
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return now;
}

timespec KnownDigests::readBeginsAfter(const timespec& changed)
{
    auto now = readBegins();
    // A few ticks at most: a change time in the future (a clock set back)
    // is not waited for; such a digest is simply not kept.
    for (int wait = 0; wait < 10 && !before(changed, now); ++wait) {
        const timespec pause { 0, 1'000'000 };
        ::nanosleep(&pause, nullptr);
        now = readBegins();
    }
    return now;
}

void KnownDigests::remember(const struct stat& status, const Sha256& digest, const timespec& readBegan)
{
    if (!before(status.st_ctim, readBegan))
        return;
    std::lock_guard guard(lock_);
    entries_.insert_or_assign(Key { status.st_dev, status.st_ino },
        Entry { status.st_size, status.st_mtim, status.st_ctim, digest });
}

std::optional<Sha256> KnownDigests::find(const struct stat& status) const
{
    std::lock_guard guard(lock_);
    auto found = entries_.find(Key { status.st_dev, status.st_ino });
    if (found == entries_.end())
        return std::nullopt;
    const auto& entry = found->second;
    if (entry.size != status.st_size || !same(entry.modified, status.st_mtim) || !same(entry.changed, status.st_ctim))
        return std::nullopt;
    return entry.digest;
}

} // namespace quillmark::platform
