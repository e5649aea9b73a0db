#pragma once

#include "platform/seal/file_digests.hpp"

#include <cstdint>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unordered_map>

namespace quillmark::platform {

// Digests of files read earlier in this process, each given out again only
// while its file has provably not changed since it was read: the same inode
// on the same device, with the same size, modification time and change
// time. Every write, truncation, chmod or rename of the file itself sets its
// change time to the present, and no program can set it back, so a file
// altered after it was read no longer matches, provided that:
//
// - the change time lies before the start of the read by a whole step of
//   the volume's clock: a volume that keeps whole seconds stamps a change
//   made in the second of the read with the very time the file already had.
//   The step is measured for each volume (measureVolumeOf); a digest of a
//   file on a volume not measured is never kept;
// - nobody held the file open for writing or mapped shared and writable when
//   the read began: writes to a page of such a mapping that is already dirty
//   move no time at all. A writer that comes later has to write or fault a
//   page in, and that moves the change time.
//
// A file on a volume that nothing can write (mounted read-only, with a
// read-only file system: a disk image) cannot change while that holds, so
// its digest is kept whatever its times, and given out again only while the
// file is reached through that very mount, still unwritable, with the same
// attributes.
//
// Wherever none of this can be shown, the digest is not kept and the file is
// read again when it is asked for. (A system clock set back meanwhile by an
// administrator could defeat this; the digests live only as long as one
// installation.)
//
// Safe to share between threads.
class KnownDigests {
public:
    KnownDigests() = default;
    // The same digests; whether a volume still cannot be written, the copy
    // finds out again for itself.
    KnownDigests(const KnownDigests& other);
    KnownDigests& operator=(const KnownDigests&) = delete;

    // The moment a read begins, on the clock that stamps files.
    static timespec readBegins();

    // Measures, once, the step in which the volume holding `folder` keeps
    // file times; a file is made and removed there to find out.
    void measureVolumeOf(const std::string& folder);
    // The first moment at which a read of the file whose attributes are
    // `status` may begin for its digest to be kept; nothing when none will
    // be kept (its volume is not measured).
    std::optional<timespec> keptFromReadsBeginning(const struct stat& status) const;

    // Whether a read of the open file `fd` that begins now may give a digest
    // to keep: its volume cannot be written, or nobody holds it open for
    // writing or mapped writable.
    bool mayKeepReadOf(int fd) const;
    // Keeps `digest` of the open file `fd` whose attributes, taken after
    // `readBegan` and before reading it, are `status`, when its volume
    // cannot be written or its change time lies a whole step of its
    // volume's clock before `readBegan`. Only for a read for which
    // mayKeepReadOf() answered true just before it began.
    void remember(int fd, const struct stat& status, const Sha256& digest, const timespec& readBegan);

    // A read whose digest may be kept, as found before it began.
    struct KeptRead {
        struct stat status;
        std::optional<std::uint64_t> unwritableMount;
    };
    // What mayKeepReadOf() and remember() ask of a read, asked once before it
    // begins: nothing when its digest would not be kept, and then no lease
    // is taken for it.
    std::optional<KeptRead> keptRead(int fd, const struct stat& status, const timespec& readBegan) const;
    void remember(const KeptRead& read, const Sha256& digest);

    // The digest of the open file `fd` whose attributes are now `status`, if
    // it is known and the file is unchanged since.
    std::optional<Sha256> find(int fd, const struct stat& status) const;

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
        // Set when kept because nothing could write its volume: the mount.
        std::optional<std::uint64_t> unwritableMount;
    };

    std::optional<std::int64_t> granularityOf(dev_t device) const;
    // Whether the change time lies a whole step of its volume's clock before `readBegan`.
    bool changedAStepBefore(const struct stat& status, const timespec& readBegan) const;
    // The mount of the open file, when nothing can write its volume.
    std::optional<std::uint64_t> unwritableMountOf(int fd) const;

    mutable std::mutex lock_;
    std::unordered_map<dev_t, std::int64_t> granularities_; // nanoseconds, by device
    std::unordered_map<Key, Entry, KeyHash> entries_;
    mutable std::unordered_map<std::uint64_t, bool> unwritableMounts_; // by mount id, never copied
};

} // namespace quillmark::platform
