#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace quillmark::testing {

// A mount made for one test and undone when the object goes away. The test
// process first moves into a private mount namespace where it can, so that
// nothing outside it ever sees the mount.
class ScopedMount {
public:
    // A tmpfs of `bytes` at `path`. Null, with the reason in `whyNot`, when
    // this process may not mount.
    static std::unique_ptr<ScopedMount> sizeLimitedTmpfs(const std::string& path, std::size_t bytes, std::string& whyNot);
    // A new ext4 file system of `bytes`, with a journal, at `path`, kept in
    // the image file `image` (a sparse file made here) through a loop device.
    // Null, with the reason in `whyNot`, when mkfs.ext4 or mounting is missing.
    // With `inodeBytes` 128, the inodes have no room for the fractions of a
    // second: the volume keeps its files' times in whole seconds.
    static std::unique_ptr<ScopedMount> freshExt4(const std::string& path, const std::string& image,
        std::size_t bytes, std::string& whyNot, int inodeBytes = 0);
    // An overlay volume at `path`: `lower` seen through it read-only, its
    // changes kept in `upper` (`work` is the overlay's own folder; both
    // empty, on one volume). Folders may be renamed on it.
    static std::unique_ptr<ScopedMount> overlay(const std::string& path, const std::string& lower,
        const std::string& upper, const std::string& work, std::string& whyNot);
    // A squashfs image of the folder `contents`, written to `image` and
    // mounted read-only at `path` through a loop device: a disk image.
    static std::unique_ptr<ScopedMount> diskImage(
        const std::string& path, const std::string& contents, const std::string& image, std::string& whyNot);
    // `path` mounted over itself, read-only.
    static std::unique_ptr<ScopedMount> readOnlyBind(const std::string& path, std::string& whyNot);
    // /dev/fuse open to everyone, as on a desktop: a device node of mode
    // 0666 made at `copy` and bound over it.
    static std::unique_ptr<ScopedMount> fuseOpenToEveryone(const std::string& copy, std::string& whyNot);

    ~ScopedMount();
    ScopedMount(const ScopedMount&) = delete;
    ScopedMount& operator=(const ScopedMount&) = delete;

private:
    explicit ScopedMount(std::string path)
        : path_(std::move(path))
    {
    }

    std::string path_;
};

} // namespace quillmark::testing
