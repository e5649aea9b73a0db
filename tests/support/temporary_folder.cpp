#include "tests/support/temporary_folder.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace quillmark::testing {
namespace {

platform::FileURL makeTemporaryFolder()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && base[0] == '/' ? base : "/tmp") + "/quillmark-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("Could not create a temporary folder: " + std::string(std::strerror(errno)));
    // Tests compare paths with what the engine resolves, so start from the real path.
    return platform::FileURL(std::filesystem::canonical(pattern).string(), true);
}

[[noreturn]] void fail(const std::string& action, const std::string& path)
{
    throw std::runtime_error("Could not " + action + " " + path + ": " + std::strerror(errno));
}

} // namespace

TemporaryFolder::TemporaryFolder()
    : url_(makeTemporaryFolder())
{
}

TemporaryFolder::~TemporaryFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(url_.path(), ignored);
}

std::string TemporaryFolder::path(std::string_view relative) const
{
    if (relative.empty())
        return url_.path();
    return url_.path() + "/" + std::string(relative);
}

void writeFile(const std::string& path, std::string_view contents, unsigned mode)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    {
        std::ofstream stream(path, std::ios::binary | std::ios::trunc);
        if (!stream)
            fail("write", path);
        stream.write(contents.data(), static_cast<std::streamsize>(contents.size()));
        if (!stream)
            fail("write", path);
    }
    if (::chmod(path.c_str(), mode) != 0)
        fail("change the mode of", path);
}

void makeFolder(const std::string& path)
{
    std::filesystem::create_directories(path);
}

void makeLink(const std::string& target, const std::string& path)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    if (::symlink(target.c_str(), path.c_str()) != 0)
        fail("create a symbolic link at", path);
}

std::string readFile(const std::string& path)
{
    std::ifstream stream(path, std::ios::binary);
    if (!stream)
        fail("read", path);
    std::ostringstream contents;
    contents << stream.rdbuf();
    return contents.str();
}

} // namespace quillmark::testing
