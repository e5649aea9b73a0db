#pragma once

#include "platform/seal/file_digests.hpp"

#include <ctime>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unordered_map>

namespace quillmark::platform {

// Digests of files read earlier in this process, each given out again only
// while its file has provably not changed since it was read: the same inode
// on the same device, with the same size, modification time and change
// time. Every write, truncation, chmod or rename of the file itself sets its
// change time to the present, and no program can set it back, so a file
// altered after it was read no longer matches.
//
// The kernel stamps files from a clock that advances in ticks of a few
// milliseconds. A file changed in the very tick in which its reading began
// could be changed again in that tick without its change time moving; such
// a digest is not kept, and the file is read again when it is asked for.
// (A system clock set back meanwhile by an administrator could defeat this;
// the digests live only as long as one installation.)
//
// Safe to share between threads.
class KnownDigests {
public:
    // The moment a read begins, on the clock that stamps files.
    static timespec readBegins();
    // The same, for a file last changed at `changed`: when that is still the
    // present tick, waits for the next (a few milliseconds at most), so that
    // a file read right after it was written can be remembered.
    static timespec readBeginsAfter(const timespec& changed);

    // Keeps `digest` of the file whose attributes, taken after opening it and
    // before reading it, are `status`, when its change time lies before `readBegan`.
    void remember(const struct stat& status, const Sha256& digest, const timespec& readBegan);
    // The digest of the file whose attributes are now `status`, if it is
    // known and the file is unchanged since.
    std::optional<Sha256> find(const struct stat& status) const;

private:
    struct Key {
        dev_t device;
        ino_t inode;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& key) const noexcept
        {
            return std::hash<ino_t>()(key.inode) ^ (std::hash<dev_t>()(key.device) << 1);
        }
    };
    struct Entry {
        off_t size;
        timespec modified;
        timespec changed;
        Sha256 digest;
    };

    mutable std::mutex lock_;
    std::unordered_map<Key, Entry, KeyHash> entries_;
};

} // namespace quillmark::platform
