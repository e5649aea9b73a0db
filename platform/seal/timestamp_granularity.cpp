#include "platform/seal/timestamp_granularity.hpp"

#include "platform/unique_fd.hpp"

#include <atomic>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace quillmark::platform {
namespace {

// A volume that keeps less than every other second is one whose times tell
// nothing about a change made while a file is read.
constexpr std::int64_t coarsestGranularity = 2 * nanosecondsPerSecond;
// One nanosecond before a moment that is a whole multiple of every step a
// volume uses (1 ns, 1 µs, 10 ms, 1 s, 2 s): what the volume keeps of it is
// then that moment less one step.
constexpr timespec probeTime { 1'700'000'000 - 1, 999'999'999 };

UniqueFd makeProbe(int folderFd, std::string& name)
{
    // Without a name nobody sees it, and it cannot outlive the descriptor.
    UniqueFd probe(::openat(folderFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (probe)
        return probe;
    static std::atomic<unsigned> counter { 0 };
    name = ".timestamp-probe-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    return UniqueFd(::openat(folderFd, name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0600));
}

} // namespace

std::optional<std::int64_t> timestampGranularity(int folderFd)
{
    std::string name;
    auto probe = makeProbe(folderFd, name);
    if (!probe)
        return std::nullopt;
    const timespec times[2] = { { 0, UTIME_OMIT }, probeTime };
    struct stat status {};
    bool measured = ::futimens(probe.get(), times) == 0 && ::fstat(probe.get(), &status) == 0;
    if (!name.empty())
        ::unlinkat(folderFd, name.c_str(), 0);
    if (!measured)
        return std::nullopt;

    std::int64_t lost = nanosecondsOf(probeTime) - nanosecondsOf(status.st_mtim);
    if (lost < 0 || lost + 1 > coarsestGranularity)
        return std::nullopt;
    return lost + 1;
}

} // namespace quillmark::platform
