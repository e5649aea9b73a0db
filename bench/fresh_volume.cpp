#include "bench/fresh_volume.hpp"

#include "bench/shell_command.hpp"

#include <cstdlib>
#include <filesystem>

namespace quillmark::bench {

FreshVolume::FreshVolume(const std::string& image, const std::string& mountPoint, unsigned gibibytes)
    : mountPoint_(mountPoint)
{
    std::filesystem::remove(image);
    runShellCommand("truncate -s " + std::to_string(gibibytes) + "G " + shellQuoted(image));
    runShellCommand("mkfs.ext4 -q -F " + shellQuoted(image));
    device_ = firstLineOf("losetup --find --show --direct-io=on " + shellQuoted(image));
    std::filesystem::create_directories(mountPoint);
    try {
        runShellCommand("mount " + shellQuoted(device_) + " " + shellQuoted(mountPoint));
    } catch (...) {
        std::system(("losetup -d " + shellQuoted(device_)).c_str());
        throw;
    }
    mounted_ = true;
}

FreshVolume::~FreshVolume()
{
    if (mounted_)
        std::system(("umount " + shellQuoted(mountPoint_)).c_str());
    if (!device_.empty())
        std::system(("losetup -d " + shellQuoted(device_)).c_str());
}

} // namespace quillmark::bench
