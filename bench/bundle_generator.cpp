#include "bench/bundle_generator.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quillmark::bench {
namespace {

constexpr std::uint64_t KiB = 1024;
constexpr std::uint64_t MiB = 1024 * KiB;

class Writer {
public:
    explicit Writer(std::string root)
        : root_(std::move(root))
    {
    }

    void file(const std::string& relative, std::uint64_t size, bool executable = false)
    {
        auto path = root_ + "/" + relative;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, executable ? 0755 : 0644);
        if (fd < 0)
            throw std::runtime_error("Could not create " + path + ": " + std::strerror(errno));
        std::uint64_t left = size;
        while (left > 0) {
            fill();
            auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer_.size() * sizeof(std::uint64_t)));
            if (::write(fd, buffer_.data(), chunk) != static_cast<ssize_t>(chunk)) {
                ::close(fd);
                throw std::runtime_error("Could not write " + path + ": " + std::strerror(errno));
            }
            left -= chunk;
        }
        ::close(fd);
        ++result_.files;
        result_.bytes += size;
    }

    void link(const std::string& target, const std::string& relative)
    {
        auto path = root_ + "/" + relative;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        if (::symlink(target.c_str(), path.c_str()) != 0)
            throw std::runtime_error("Could not create the link " + path + ": " + std::strerror(errno));
        ++result_.links;
    }

    std::uint64_t between(std::uint64_t low, std::uint64_t high) { return std::uniform_int_distribution<std::uint64_t>(low, high)(random_); }

    GeneratedBundle result()
    {
        // Count every folder once, however it came to be made.
        GeneratedBundle counted = result_;
        counted.folders = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root_)) {
            if (entry.is_directory() && !entry.is_symlink())
                ++counted.folders;
        }
        return counted;
    }

private:
    void fill()
    {
        for (auto& word : buffer_)
            word = random_();
    }

    std::string root_;
    std::mt19937_64 random_ { 20261210 };
    std::vector<std::uint64_t> buffer_ = std::vector<std::uint64_t>(128 * KiB / sizeof(std::uint64_t));
    GeneratedBundle result_;
};

const char* const locales[] = { "en", "de", "fr", "es", "it", "ja", "ko", "nl", "pt", "ru", "sv", "zh_CN" };

} // namespace

GeneratedBundle generateBundle(const std::string& bundlePath)
{
    Writer writer(bundlePath);
    writer.file("Contents/Info.plist", 1200);
    writer.file("Contents/PkgInfo", 8);
    writer.file("Contents/MacOS/Quillmark", 48 * MiB, true);
    for (int i = 0; i < 3; ++i)
        writer.file("Contents/MacOS/quillmark-helper-" + std::to_string(i), writer.between(512 * KiB, 4 * MiB), true);

    // Frameworks: one large library each, headers and resources, and the
    // version links that make them nest.
    for (int f = 0; f < 10; ++f) {
        auto name = "Kit" + std::to_string(f);
        auto framework = "Contents/Frameworks/" + name + ".framework/";
        auto version = framework + "Versions/A/";
        writer.file(version + name, writer.between(24 * MiB, 44 * MiB), true);
        for (int h = 0; h < 30; ++h)
            writer.file(version + "Headers/" + name + "Part" + std::to_string(h) + ".h", writer.between(1 * KiB, 24 * KiB));
        for (int r = 0; r < 20; ++r)
            writer.file(version + "Resources/resource" + std::to_string(r) + ".dat", writer.between(4 * KiB, 256 * KiB));
        writer.link("A", framework + "Versions/Current");
        writer.link("Versions/Current/" + name, framework + name);
        writer.link("Versions/Current/Headers", framework + "Headers");
        writer.link("Versions/Current/Resources", framework + "Resources");
    }

    // Localized strings and interface files for every language.
    for (const char* locale : locales) {
        auto folder = std::string("Contents/Resources/") + locale + ".lproj/";
        for (int s = 0; s < 120; ++s)
            writer.file(folder + "Strings" + std::to_string(s) + ".strings", writer.between(512, 16 * KiB));
        for (int n = 0; n < 30; ++n)
            writer.file(folder + "Interface" + std::to_string(n) + ".nib/keyedobjects.nib", writer.between(8 * KiB, 96 * KiB));
    }
    writer.link("en.lproj", "Contents/Resources/English.lproj");

    // Images in several sizes and a tree of bundled documents.
    for (int i = 0; i < 500; ++i)
        writer.file("Contents/Resources/Images/set" + std::to_string(i % 10) + "/image" + std::to_string(i) + ".png",
            writer.between(64 * KiB, 1792 * KiB));
    for (int d = 0; d < 2000; ++d) {
        auto path = "Contents/Resources/Documents/volume" + std::to_string(d % 8) + "/chapter" + std::to_string(d % 25)
            + "/section" + std::to_string(d % 7) + "/page" + std::to_string(d) + ".html";
        writer.file(path, writer.between(2 * KiB, 48 * KiB));
    }
    for (int i = 0; i < 40; ++i)
        writer.link("../volume0/chapter0", "Contents/Resources/Documents/volume1/see-also" + std::to_string(i));
    for (int i = 0; i < 1180; ++i)
        writer.file("Contents/Resources/Fonts/glyphs" + std::to_string(i) + ".bin", writer.between(1 * KiB, 32 * KiB));
    for (int p = 0; p < 6; ++p)
        writer.file("Contents/PlugIns/Filter" + std::to_string(p) + ".plugin/Contents/MacOS/Filter" + std::to_string(p),
            writer.between(2 * MiB, 12 * MiB), true);
    return writer.result();
}

} // namespace quillmark::bench
