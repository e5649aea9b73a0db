#include "bench/timed_file_manager.hpp"

#include <algorithm>

namespace quillmark::bench {
namespace {

using Clock = std::chrono::steady_clock;
using Operation = TimedFileManager::Operation;

double secondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::max(0.0, std::chrono::duration<double>(to - from).count());
}

enum Phase { payloadVerification, copy, stagedVerification, syncs, renames, placedVerification, removals, other };

} // namespace

template <typename Call>
void TimedFileManager::timed(Operation operation, Call call) const
{
    auto begin = Clock::now();
    // Noted even when it fails, so a failed run still adds up.
    try {
        call();
    } catch (...) {
        events_.push_back({ operation, begin, Clock::now() });
        throw;
    }
    events_.push_back({ operation, begin, Clock::now() });
}

void TimedFileManager::createDirectory(
    const platform::FileURL& url, platform::MissingParents parents, std::optional<unsigned> permissions) const
{
    timed(Operation::createDirectory, [&] { SystemFileManager::createDirectory(url, parents, permissions); });
}

void TimedFileManager::copyItem(
    const platform::FileURL& source, const platform::FileURL& destination, const CopiedFile& fileCopied) const
{
    timed(Operation::copy, [&] { SystemFileManager::copyItem(source, destination, fileCopied); });
}

void TimedFileManager::moveItem(const platform::FileURL& source, const platform::FileURL& destination) const
{
    timed(Operation::move, [&] { SystemFileManager::moveItem(source, destination); });
}

void TimedFileManager::removeItem(const platform::FileURL& url) const
{
    timed(Operation::remove, [&] { SystemFileManager::removeItem(url); });
}

void TimedFileManager::synchronize(const platform::FileURL& url, platform::SyncScope scope) const
{
    timed(Operation::sync, [&] {
        if (syncs_)
            SystemFileManager::synchronize(url, scope);
    });
}

InstallationPhases phasesOf(
    const std::vector<TimedFileManager::Event>& events, Clock::time_point begin, Clock::time_point end)
{
    InstallationPhases phases;
    auto& seconds = phases.seconds;
    const TimedFileManager::Event* lastCopy = nullptr;
    const TimedFileManager::Event* lastMove = nullptr;
    bool rootMade = false;
    bool stagedVerified = false;
    bool placedVerified = false;
    for (const auto& event : events) {
        double duration = secondsBetween(event.begin, event.end);
        if (!rootMade && event.operation == Operation::createDirectory) {
            seconds[payloadVerification] = secondsBetween(begin, event.begin);
            rootMade = true;
        }
        if (event.operation == Operation::sync && lastCopy != nullptr && !stagedVerified) {
            seconds[stagedVerification] = secondsBetween(lastCopy->end, event.begin);
            stagedVerified = true;
        }
        if (event.operation == Operation::sync && lastMove != nullptr && !placedVerified) {
            seconds[placedVerification] = secondsBetween(lastMove->end, event.begin);
            placedVerified = true;
        }
        switch (event.operation) {
        case Operation::copy:
            seconds[copy] += duration;
            lastCopy = &event;
            break;
        case Operation::move:
            seconds[renames] += duration;
            lastMove = &event;
            break;
        case Operation::remove:
            seconds[removals] += duration;
            break;
        case Operation::sync:
            seconds[syncs] += duration;
            break;
        case Operation::createDirectory:
            break;
        }
    }
    double accounted = 0;
    for (int phase = payloadVerification; phase < other; ++phase)
        accounted += seconds[phase];
    seconds[other] = std::max(0.0, secondsBetween(begin, end) - accounted);
    return phases;
}

} // namespace quillmark::bench
