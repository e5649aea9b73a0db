#include "platform/desktop/process_files.hpp"

#include <fstream>
#include <sstream>
#include <unistd.h>

namespace quillmark::platform {

std::string procPath(pid_t pid, std::string_view entry)
{
    return "/proc/" + std::to_string(pid) + "/" + std::string(entry);
}

std::optional<std::string> readLink(const std::string& path)
{
    std::string buffer(4096, '\0');
    auto length = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (length <= 0 || static_cast<size_t>(length) >= buffer.size())
        return std::nullopt;
    buffer.resize(static_cast<size_t>(length));
    return buffer;
}

std::optional<std::string> readWhole(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

// The command name in brackets may hold anything, so the fields are counted
// from its closing bracket.
std::optional<ProcessStatus> processStatus(pid_t pid)
{
    auto stat = readWhole(procPath(pid, "stat"));
    if (!stat)
        return std::nullopt;
    auto close = stat->rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::istringstream fields(stat->substr(close + 1));
    ProcessStatus status;
    fields >> status.state;
    std::string skipped;
    for (int field = 4; field < 22; ++field)
        fields >> skipped;
    fields >> status.startTime;
    if (!fields)
        return std::nullopt;
    return status;
}

bool hasGone(const std::optional<ProcessStatus>& status)
{
    return !status || status->state == 'Z' || status->state == 'X';
}

std::optional<std::string> statusLine(const std::string& statusText, std::string_view name)
{
    std::istringstream lines(statusText);
    for (std::string line; std::getline(lines, line);)
        if (line.size() > name.size() && line.compare(0, name.size(), name) == 0 && line[name.size()] == ':')
            return line.substr(name.size() + 1);
    return std::nullopt;
}

bool signalInMask(const std::optional<std::string>& mask, int signal)
{
    if (!mask)
        return false;
    try {
        return (std::stoull(*mask, nullptr, 16) >> (signal - 1)) & 1ULL;
    } catch (const std::exception&) {
        return false;
    }
}

// The running applications are the user's own session, never another
// user's, even when the installer runs as root.
bool belongsToThisUser(const std::string& statusText)
{
    auto ids = statusLine(statusText, "Uid");
    if (!ids)
        return false;
    const auto own = std::to_string(::getuid());
    std::istringstream words(*ids);
    int count = 0;
    for (std::string word; words >> word; ++count)
        if (word != own)
            return false;
    return count == 4;
}

bool belongsToThisUser(pid_t pid)
{
    auto status = readWhole(procPath(pid, "status"));
    return status && belongsToThisUser(*status);
}

} // namespace quillmark::platform
