#include "platform/seal/known_digests.hpp"

#include "platform/seal/timestamp_granularity.hpp"
#include "platform/seal/unwritable_volume.hpp"
#include "platform/seal/write_access.hpp"
#include "platform/unique_fd.hpp"

#include <fcntl.h>

namespace quillmark::platform {
namespace {

timespec timeOf(std::int64_t nanoseconds)
{
    return { static_cast<time_t>(nanoseconds / nanosecondsPerSecond), static_cast<long>(nanoseconds % nanosecondsPerSecond) };
}

bool same(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The start of the step of the volume's clock in which `time` lies.
std::int64_t stepStart(const timespec& time, std::int64_t granularity)
{
    auto at = nanosecondsOf(time);
    return at - at % granularity;
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

void KnownDigests::measureVolumeOf(const std::string& folder)
{
    UniqueFd opened(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat status {};
    if (!opened || ::fstat(opened.get(), &status) != 0)
        return;
    if (granularityOf(status.st_dev))
        return;
    auto granularity = timestampGranularity(opened.get());
    if (!granularity)
        return;
    std::lock_guard guard(lock_);
    granularities_.emplace(status.st_dev, *granularity);
}

std::optional<std::int64_t> KnownDigests::granularityOf(dev_t device) const
{
    std::lock_guard guard(lock_);
    auto found = granularities_.find(device);
    if (found == granularities_.end())
        return std::nullopt;
    return found->second;
}

std::optional<timespec> KnownDigests::keptFromReadsBeginning(const struct stat& status) const
{
    auto granularity = granularityOf(status.st_dev);
    if (!granularity)
        return std::nullopt;
    // The change time lies in a step of the clock that must be over.
    return timeOf(stepStart(status.st_ctim, *granularity) + *granularity);
}

KnownDigests::KnownDigests(const KnownDigests& other)
{
    std::lock_guard guard(other.lock_);
    granularities_ = other.granularities_;
    entries_ = other.entries_;
}

std::optional<std::uint64_t> KnownDigests::unwritableMountOf(int fd) const
{
    auto mount = uniqueMountIdOf(fd);
    if (!mount)
        return std::nullopt;
    std::optional<bool> unwritable;
    {
        std::lock_guard guard(lock_);
        if (auto found = unwritableMounts_.find(*mount); found != unwritableMounts_.end())
            unwritable = found->second;
    }
    if (!unwritable) {
        // Asked once per mount: it reads the system's whole table of mounts.
        unwritable = platform::onUnwritableVolume(fd);
        std::lock_guard guard(lock_);
        unwritableMounts_.emplace(*mount, *unwritable);
    }
    if (!*unwritable)
        return std::nullopt;
    return mount;
}

bool KnownDigests::mayKeepReadOf(int fd) const
{
    return unwritableMountOf(fd) || noWriterHolds(fd);
}

bool KnownDigests::changedAStepBefore(const struct stat& status, const timespec& readBegan) const
{
    auto granularity = granularityOf(status.st_dev);
    // A change made during the read is stamped with the read's step at the
    // earliest; only a change time before that step tells it apart.
    return granularity && nanosecondsOf(status.st_ctim) < stepStart(readBegan, *granularity);
}

void KnownDigests::remember(int fd, const struct stat& status, const Sha256& digest, const timespec& readBegan)
{
    auto unwritableMount = unwritableMountOf(fd);
    if (!unwritableMount && !changedAStepBefore(status, readBegan))
        return;
    remember(KeptRead { status, unwritableMount }, digest);
}

std::optional<KnownDigests::KeptRead> KnownDigests::keptRead(int fd, const struct stat& status, const timespec& readBegan) const
{
    auto unwritableMount = unwritableMountOf(fd);
    if (!unwritableMount && (!changedAStepBefore(status, readBegan) || !noWriterHolds(fd)))
        return std::nullopt;
    return KeptRead { status, unwritableMount };
}

void KnownDigests::remember(const KeptRead& read, const Sha256& digest)
{
    const auto& status = read.status;
    std::lock_guard guard(lock_);
    entries_.insert_or_assign(Key { status.st_dev, status.st_ino },
        Entry { status.st_size, status.st_mtim, status.st_ctim, digest, read.unwritableMount });
}

std::optional<Sha256> KnownDigests::find(int fd, const struct stat& status) const
{
    std::optional<Entry> entry;
    {
        std::lock_guard guard(lock_);
        auto found = entries_.find(Key { status.st_dev, status.st_ino });
        if (found == entries_.end())
            return std::nullopt;
        entry = found->second;
    }
    if (entry->size != status.st_size || !same(entry->modified, status.st_mtim) || !same(entry->changed, status.st_ctim))
        return std::nullopt;
    // Kept because nothing could write its volume: only while that holds,
    // and through the very mount it was read through. An image mounted
    // again, or another in its place, may give its files the same numbers
    // and times on a device of the same number.
    if (entry->unwritableMount && unwritableMountOf(fd) != entry->unwritableMount)
        return std::nullopt;
    return entry->digest;
}

} // namespace quillmark::platform
