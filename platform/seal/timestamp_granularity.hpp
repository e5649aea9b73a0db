#pragma once

#include <cstdint>
#include <ctime>
#include <optional>

namespace quillmark::platform {

inline constexpr std::int64_t nanosecondsPerSecond = 1'000'000'000;

// A file time, in nanoseconds since the epoch.
constexpr std::int64_t nanosecondsOf(const timespec& time)
{
    return static_cast<std::int64_t>(time.tv_sec) * nanosecondsPerSecond + time.tv_nsec;
}

// The step, in nanoseconds, in which the volume holding the open folder
// `folderFd` stores file times: 1 on most Linux volumes, 1,000,000,000 on
// ext4 with small inodes and on many network and FUSE volumes, 2,000,000,000
// for FAT. Measured by giving a file of its own, made in that folder and
// gone at once, a time ending in 999999999 ns and reading back what was
// kept. Nothing when the folder takes no file or the answer makes no sense.
std::optional<std::int64_t> timestampGranularity(int folderFd);

} // namespace quillmark::platform
