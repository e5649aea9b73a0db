#include "bench/fresh_volume.hpp"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>

namespace quillmark::bench {
namespace {

std::string shellQuoted(const std::string& text)
{
    return "'" + text + "'";
}

void run(const std::string& command)
{
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("command failed: " + command);
}

// The first line a command prints.
std::string output(const std::string& command)
{
    struct PipeCloser {
        void operator()(FILE* pipe) const { ::pclose(pipe); }
    };
    std::unique_ptr<FILE, PipeCloser> pipe(::popen(command.c_str(), "r"));
    std::array<char, 256> line {};
    if (!pipe || std::fgets(line.data(), line.size(), pipe.get()) == nullptr)
        throw std::runtime_error("command failed: " + command);
    std::string text = line.data();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

} // namespace

FreshVolume::FreshVolume(const std::string& image, const std::string& mountPoint, unsigned gibibytes)
    : mountPoint_(mountPoint)
{
    std::filesystem::remove(image);
    run("truncate -s " + std::to_string(gibibytes) + "G " + shellQuoted(image));
    run("mkfs.ext4 -q -F " + shellQuoted(image));
    device_ = output("losetup --find --show --direct-io=on " + shellQuoted(image));
    std::filesystem::create_directories(mountPoint);
    try {
        run("mount " + shellQuoted(device_) + " " + shellQuoted(mountPoint));
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
