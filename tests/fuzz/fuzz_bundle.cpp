#include "tests/fuzz/fuzz_bundle.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace quillmark::fuzzing {

FuzzFolder::FuzzFolder()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && base[0] == '/' ? base : "/tmp") + "/quillmark-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("Could not create a folder for fuzzing: " + std::string(std::strerror(errno)));
    path_ = std::filesystem::canonical(pattern).string();
}

FuzzFolder::~FuzzFolder()
{
    removeTree(path_);
}

void replaceFile(const std::string& path, std::string_view bytes, unsigned mode)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    ::unlink(path.c_str());
    int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (file < 0)
        throw std::runtime_error("Could not write " + path + ": " + std::strerror(errno));
    std::size_t written = 0;
    while (written < bytes.size()) {
        ssize_t count = ::write(file, bytes.data() + written, bytes.size() - written);
        if (count < 0) {
            ::close(file);
            throw std::runtime_error("Could not write " + path + ": " + std::strerror(errno));
        }
        written += static_cast<std::size_t>(count);
    }
    ::fchmod(file, mode);
    ::close(file);
}

void removeTree(const std::string& path)
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

} // namespace quillmark::fuzzing
