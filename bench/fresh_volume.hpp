#pragma once

#include <string>

namespace quillmark::bench {

// A new, empty ext4 file system with a journal, in an image file mounted
// through a loop device with direct I/O (so its data is cached once, not
// twice). Every contender then writes to a volume that no earlier removal
// has left in a particular state. Needs root, mkfs.ext4 and losetup.
// Unmounted and detached when it goes out of scope; the image stays.
class FreshVolume {
public:
    FreshVolume(const std::string& image, const std::string& mountPoint, unsigned gibibytes);
    ~FreshVolume();
    FreshVolume(const FreshVolume&) = delete;
    FreshVolume& operator=(const FreshVolume&) = delete;

    const std::string& mountPoint() const { return mountPoint_; }

private:
    std::string mountPoint_;
    std::string device_;
    bool mounted_ = false;
};

} // namespace quillmark::bench
