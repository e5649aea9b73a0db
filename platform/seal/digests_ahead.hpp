#pragma once

#include "platform/seal/known_digests.hpp"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace quillmark::platform {

// Hashes files on a thread of its own as they are handed over, into `known`,
// so that a check of the tree that follows finds most digests made. Meant
// for a copy in progress: each file is handed over as soon as its copy is
// complete and is read back from the disk while the copy goes on with the
// next. What it hashes proves nothing by itself; a check takes a digest
// only for a file still unchanged since it was read (see KnownDigests).
class DigestsAhead {
public:
    explicit DigestsAhead(KnownDigests& known);
    // Stops as stop() does.
    ~DigestsAhead();
    DigestsAhead(const DigestsAhead&) = delete;
    DigestsAhead& operator=(const DigestsAhead&) = delete;

    // The regular file at the absolute `path`, complete; never waits.
    void add(std::string path);
    // Ends the thread once its current file is done, dropping what is left
    // to the check that follows, which spreads it over every core.
    void stop();

private:
    void run();
    // Waits until the clock that stamps files reaches `moment`; false when
    // stopped first, or when the moment is too far off to wait for.
    bool waitFor(const timespec& moment);

    KnownDigests& known_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::string> pending_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace quillmark::platform
