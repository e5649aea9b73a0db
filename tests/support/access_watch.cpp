#include "tests/support/access_watch.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <sys/inotify.h>
#include <unistd.h>

namespace quillmark::testing {

AccessWatch::AccessWatch(const std::string& folder, Events events)
    : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
{
    if (fd_ < 0)
        throw std::runtime_error("Could not start watching " + folder + ": " + std::strerror(errno));
    std::vector<std::string> folders { folder };
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_directory() && !entry.is_symlink())
            folders.push_back(entry.path().string());
    }
    for (const auto& path : folders) {
        std::uint32_t mask = events == Events::readOnly ? IN_ACCESS : IN_OPEN | IN_ACCESS;
        int watch = ::inotify_add_watch(fd_, path.c_str(), mask | IN_DONT_FOLLOW);
        if (watch < 0)
            throw std::runtime_error("Could not watch " + path + ": " + std::strerror(errno));
        folders_[watch] = path;
    }
}

AccessWatch::~AccessWatch()
{
    ::close(fd_);
}

std::vector<std::string> AccessWatch::accessed()
{
    std::vector<std::string> names;
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        ssize_t count = ::read(fd_, buffer, sizeof buffer);
        if (count <= 0)
            return names;
        for (ssize_t at = 0; at < count;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            const auto& path = folders_[event->wd];
            names.push_back(event->len > 0 ? path + "/" + event->name : path);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

} // namespace quillmark::testing
