#include "platform/desktop/system_workspace.hpp"

#include "platform/desktop/process_files.hpp"
#include "platform/desktop/quit_request.hpp"

#include "platform/plist/bundle_information.hpp"

#include "platform/files/file_manager.hpp"
#include "platform/plist/property_list.hpp"
#include "platform/unique_fd.hpp"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <string_view>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace quillmark::platform {
namespace {

// The bundle of a program path as /proc or a command line gives it.
std::optional<FileURL> bundleOfProgramPath(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        return std::nullopt;
    return bundleOfProgram(FileURL(path));
}

std::vector<std::string> splitWords(const std::string& text)
{
    std::vector<std::string> words;
    std::istringstream stream(text);
    for (std::string word; stream >> word;)
        words.push_back(word);
    return words;
}

// The bundle a file lies in, at any depth: "<X>.app/Contents/..." with the
// outermost such folder, the one an installer replaces.
std::optional<FileURL> bundleContaining(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        return std::nullopt;
    size_t start = 1;
    while (start < path.size()) {
        auto end = path.find('/', start);
        if (end == std::string::npos)
            return std::nullopt;
        std::string_view component(path.data() + start, end - start);
        if (component.size() > 4 && component.ends_with(".app") && path.compare(end, 10, "/Contents/") == 0)
            return FileURL(path.substr(0, end), true);
        start = end + 1;
    }
    return std::nullopt;
}

constexpr std::string_view deletedMark = " (deleted)";

// The path as it was before the file was deleted: the kernel marks a file
// that is gone but still open or mapped this way.
std::string withoutDeletedMark(std::string path)
{
    if (path.size() > deletedMark.size() && path.ends_with(deletedMark))
        path.resize(path.size() - deletedMark.size());
    return path;
}

// The bundle of a file the process has mapped for running code: its program
// when the dynamic loader or another launcher started it, the bundle's
// libraries, and those of an earlier copy at the same path deleted since. A
// file mapped only for reading (a document, a resource) runs nothing of the
// bundle, so it makes no running copy.
std::optional<FileURL> bundleOfExecutableMappings(pid_t pid)
{
    auto maps = readWhole(procPath(pid, "maps"));
    if (!maps)
        return std::nullopt;
    std::istringstream lines(*maps);
    for (std::string line; std::getline(lines, line);) {
        // Address, permissions, offset, device and inode come first; the
        // path is the rest of the line and may hold spaces.
        std::istringstream fields(line);
        std::string address, permissions;
        fields >> address >> permissions;
        if (permissions.size() < 3 || permissions[2] != 'x')
            continue;
        auto path = line.find('/');
        if (path == std::string::npos)
            continue;
        if (auto bundle = bundleContaining(withoutDeletedMark(line.substr(path))))
            return bundle;
    }
    return std::nullopt;
}

std::optional<std::string> realPath(const std::string& path)
{
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr)
        return std::nullopt;
    std::string result(resolved);
    std::free(resolved);
    return result;
}

std::optional<std::string> findInPath(const std::string& name)
{
    const char* search = std::getenv("PATH");
    std::istringstream folders(search != nullptr ? search : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        if (folder.empty())
            continue;
        auto candidate = folder + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::nullopt;
}

// The first line of a regular file, read without waiting: the path comes
// from another process's command line and may name a FIFO.
std::optional<std::string> firstLine(const std::string& path)
{
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat status {};
    if (!file || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    std::string head(512, '\0');
    auto count = ::read(file.get(), head.data(), head.size());
    if (count <= 0)
        return std::nullopt;
    head.resize(static_cast<size_t>(count));
    return head.substr(0, head.find('\n'));
}

// Whether `script` starts with a "#!" line naming `program` as its
// interpreter, directly or through env.
bool interpretedBy(const std::string& script, const std::string& program)
{
    auto line = firstLine(script);
    if (!line || line->rfind("#!", 0) != 0)
        return false;
    auto words = splitWords(line->substr(2));
    if (words.empty())
        return false;
    std::optional<std::string> interpreter = words[0];
    if (FileURL(words[0]).lastComponent() == "env" && words.size() >= 2)
        interpreter = words[1].find('/') == std::string::npos ? findInPath(words[1]) : words[1];
    if (!interpreter)
        return false;
    auto resolvedInterpreter = realPath(*interpreter);
    auto resolvedProgram = realPath(program);
    return resolvedInterpreter && resolvedProgram && *resolvedInterpreter == *resolvedProgram;
}

// The script a process interprets, when it is a bundle's program. The kernel
// puts the script path right after the interpreter and its one optional
// argument, so only those two places are looked at.
std::optional<FileURL> bundleOfScript(pid_t pid, const std::string& program)
{
    auto cmdline = readWhole(procPath(pid, "cmdline"));
    if (!cmdline)
        return std::nullopt;
    std::vector<std::string> arguments;
    std::istringstream stream(*cmdline);
    for (std::string argument; std::getline(stream, argument, '\0');)
        arguments.push_back(argument);
    for (size_t index = 1; index <= 2 && index < arguments.size(); ++index) {
        auto script = arguments[index];
        if (script.empty())
            continue;
        if (script[0] != '/') {
            auto folder = readLink(procPath(pid, "cwd"));
            if (!folder)
                continue;
            script = *folder + "/" + script;
        }
        script = FileURL(script).standardized().path();
        auto bundle = bundleOfProgramPath(script);
        if (bundle && interpretedBy(script, program))
            return bundle;
    }
    return std::nullopt;
}

std::optional<std::string> bundleIdentifierOf(const FileURL& bundle)
{
    try {
        auto info = parsePropertyList(systemFileManager()->contentsOfFile(
            bundle.appendingDirectory("Contents").appendingFile("Info.plist")));
        const auto* identifier = info.find("CFBundleIdentifier");
        if (identifier != nullptr && identifier->isString())
            return identifier->text();
    } catch (const std::exception&) {
        // A bundle without readable keys has no identifier.
    }
    return std::nullopt;
}

class ProcessApplication : public RunningApplication {
public:
    ProcessApplication(pid_t pid, unsigned long long startTime, std::optional<std::string> identifier, std::optional<FileURL> bundle)
        : pid_(pid)
        , startTime_(startTime)
        , identifier_(std::move(identifier))
        , bundle_(std::move(bundle))
    {
    }

    std::optional<std::string> bundleIdentifier() const override { return identifier_; }
    std::optional<FileURL> bundleURL() const override { return bundle_; }

    bool isTerminated() const override
    {
        auto status = processStatus(pid_);
        return hasGone(status) || status->startTime != startTime_;
    }

    void requestQuit() override { requestPoliteQuit(pid_, startTime_); }

private:
    pid_t pid_;
    unsigned long long startTime_;
    std::optional<std::string> identifier_;
    std::optional<FileURL> bundle_;
};

std::optional<pid_t> processNumber(const char* name)
{
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(name, &end, 10);
    if (errno != 0 || end == name || *end != '\0' || value <= 0)
        return std::nullopt;
    return static_cast<pid_t>(value);
}

} // namespace

RunningApplications SystemWorkspace::runningApplications() const
{
    RunningApplications applications;
    std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), ::closedir);
    if (!proc)
        return applications;
    std::map<std::string, std::optional<std::string>> identifiers;
    while (const dirent* entry = ::readdir(proc.get())) {
        auto pid = processNumber(entry->d_name);
        if (!pid)
            continue;
        auto status = processStatus(*pid);
        // A process that has exited no longer runs anything, and its program
        // can no longer be read.
        if (hasGone(status))
            continue;
        if (!belongsToThisUser(*pid))
            continue;
        auto program = readLink(procPath(*pid, "exe"));
        if (!program)
            continue;
        *program = withoutDeletedMark(*program);
        auto bundle = bundleOfProgramPath(*program);
        if (!bundle)
            bundle = bundleOfScript(*pid, *program);
        if (!bundle)
            bundle = bundleOfExecutableMappings(*pid);
        std::optional<std::string> identifier;
        if (bundle) {
            auto known = identifiers.find(bundle->path());
            if (known == identifiers.end())
                known = identifiers.emplace(bundle->path(), bundleIdentifierOf(*bundle)).first;
            identifier = known->second;
        }
        applications.push_back(std::make_shared<ProcessApplication>(*pid, status->startTime, std::move(identifier), std::move(bundle)));
    }
    return applications;
}

} // namespace quillmark::platform
