#include "bench/generated_bundle.hpp"

#include "platform/property_list.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quillmark::bench {
namespace {

constexpr int fileCount = 6000;

[[noreturn]] void fail(const std::string& action, const std::string& path)
{
    throw std::runtime_error("Could not " + action + " " + path + ": " + std::strerror(errno));
}

// Mostly small files, some medium ones and a few large ones, as an
// application with frameworks and resources has them; about 1 GiB in all.
std::uint64_t sizeOf(int index)
{
    if (index % 1000 == 999)
        return 64ull << 20;
    if (index % 50 == 7)
        return 4ull << 20;
    return (static_cast<std::uint64_t>(index) * 7919u) % (48u << 10) + 1;
}

void writeData(const std::string& path, std::uint64_t size, std::uint64_t seed, mode_t mode)
{
    int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (file < 0)
        fail("create", path);
    std::vector<std::uint64_t> block(1 << 17); // 1 MiB
    std::uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
    for (std::uint64_t written = 0; written < size;) {
        for (auto& word : block) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            word = state;
        }
        std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(size - written, block.size() * 8));
        if (::write(file, block.data(), chunk) != static_cast<ssize_t>(chunk)) {
            ::close(file);
            fail("write", path);
        }
        written += chunk;
    }
    if (::close(file) != 0)
        fail("close", path);
}

std::string folderFor(int index)
{
    std::string folder = "Contents/Resources/group-" + std::to_string(index % 40) + "/set-" + std::to_string(index / 40 % 6);
    if (index % 3 == 0)
        folder += "/nested-" + std::to_string(index % 5) + "/deeper";
    return folder;
}

} // namespace

GeneratedBundleSummary writeGeneratedBundle(const std::string& path)
{
    namespace fs = std::filesystem;
    GeneratedBundleSummary summary;
    fs::create_directories(path + "/Contents/MacOS");
    fs::create_directories(path + "/Contents/Resources/links");

    auto info = platform::PropertyListValue::makeDictionary({
        { "CFBundleIdentifier", platform::PropertyListValue::makeString("app.quillmark.viewer") },
        { "CFBundlePackageType", platform::PropertyListValue::makeString("APPL") },
        { "CFBundleExecutable", platform::PropertyListValue::makeString("Quillmark") },
        { "CFBundleShortVersionString", platform::PropertyListValue::makeString("2.4") },
        { "CFBundleVersion", platform::PropertyListValue::makeString("241") },
        { "QuillmarkReleaseVersion", platform::PropertyListValue::makeString("2.4.0") },
    });
    std::string plist = platform::xmlPropertyList(info);
    int file = ::open((path + "/Contents/Info.plist").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (file < 0 || ::write(file, plist.data(), plist.size()) != static_cast<ssize_t>(plist.size()) || ::close(file) != 0)
        fail("write", path + "/Contents/Info.plist");
    writeData(path + "/Contents/MacOS/Quillmark", 2 << 20, 0, 0755);
    summary.files += 2;
    summary.bytes += plist.size() + (2 << 20);

    for (int index = 0; index < fileCount; ++index) {
        std::string folder = path + "/" + folderFor(index);
        fs::create_directories(folder);
        std::string name = "item-" + std::to_string(index) + (index % 9 == 0 ? ".tool" : ".dat");
        writeData(folder + "/" + name, sizeOf(index), static_cast<std::uint64_t>(index) + 1,
            index % 9 == 0 ? 0755 : 0644);
        ++summary.files;
        summary.bytes += sizeOf(index);
        if (index % 100 == 0) {
            std::string target = "../" + folderFor(index).substr(std::string("Contents/Resources/").size()) + "/" + name;
            std::string link = path + "/Contents/Resources/links/link-" + std::to_string(index);
            if (::symlink(target.c_str(), link.c_str()) != 0)
                fail("link", link);
            ++summary.links;
        }
    }
    for (const auto& entry : fs::recursive_directory_iterator(path)) {
        if (entry.is_directory() && !entry.is_symlink())
            ++summary.folders;
    }
    return summary;
}

} // namespace quillmark::bench
