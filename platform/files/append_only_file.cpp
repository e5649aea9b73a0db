#include "platform/files/append_only_file.hpp"

#include "platform/files/file_manager.hpp"
#include "platform/unique_fd.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>

namespace quillmark::platform {
namespace {

void makeFolders(const std::string& path)
{
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        ::mkdir(path.substr(0, slash).c_str(), 0700);
    ::mkdir(path.c_str(), 0700);
}

} // namespace

void AppendOnlyFile::rotateIfFull() const noexcept
{
    struct stat status {};
    if (::lstat(file_.path().c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return;
    if (static_cast<std::uint64_t>(status.st_size) >= limit_)
        ::rename(file_.path().c_str(), (file_.path() + ".1").c_str());
}

void AppendOnlyFile::append(std::string_view text) const noexcept
{
    try {
        const auto& path = file_.path();
        constexpr int flags = O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC;
        UniqueFd file(::open(path.c_str(), flags, 0600));
        if (!file && errno == ENOENT) {
            makeFolders(file_.deletingLastComponent().path());
            file.reset(::open(path.c_str(), flags, 0600));
        }
        if (!file)
            return;
        while (!text.empty()) {
            auto written = ::write(file.get(), text.data(), text.size());
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return;
            text.remove_prefix(static_cast<std::size_t>(written));
        }
    } catch (...) {
        // A record that cannot be written changes nothing of what it records.
    }
}

FileURL userStateFolder()
{
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/')
        return FileURL(state, true);
    return systemFileManager()->homeDirectoryForCurrentUser().appendingDirectory(".local").appendingDirectory("state");
}

} // namespace quillmark::platform
