#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

// Reading another process's entries under /proc. Each read may fail at any
// moment, because the process may end meanwhile; every answer is optional.

namespace quillmark::platform {

std::string procPath(pid_t pid, std::string_view entry);

std::optional<std::string> readLink(const std::string& path);
std::optional<std::string> readWhole(const std::string& path);

struct ProcessStatus {
    char state = '?';
    unsigned long long startTime = 0;
};

std::optional<ProcessStatus> processStatus(pid_t pid);

// An exited process runs nothing any more, even while its parent has not
// collected it.
bool hasGone(const std::optional<ProcessStatus>& status);

// The value of one "Name:" line of a /proc status or fdinfo text.
std::optional<std::string> statusLine(const std::string& statusText, std::string_view name);

// Whether bit `signal` is set in a hexadecimal signal mask as /proc prints it.
bool signalInMask(const std::optional<std::string>& mask, int signal);

// Whether all real, effective, saved and file-system user ids are this
// installer's own user; the second from a status text already read.
bool belongsToThisUser(pid_t pid);
bool belongsToThisUser(const std::string& statusText);

} // namespace quillmark::platform
