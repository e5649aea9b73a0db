#include "tests/app/base_set_sandbox.hpp"

#include "tests/support/child_process.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

namespace quillmark::testing {
namespace {

namespace fs = std::filesystem;

const char* const libraryFolders[] = { "/usr/lib/x86_64-linux-gnu", "/lib/x86_64-linux-gnu" };
const std::string sandboxLibraries = "/usr/lib/x86_64-linux-gnu";

std::vector<std::string> baseSetNames(const std::string& list)
{
    std::ifstream in(list);
    std::vector<std::string> names;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        names.push_back(line.substr(0, line.find(' ')));
    }
    return names;
}

std::string systemLibrary(const std::string& name)
{
    for (const char* folder : libraryFolders) {
        std::error_code error;
        if (fs::exists(fs::path(folder) / name, error))
            return (fs::path(folder) / name).string();
    }
    return "";
}

std::vector<std::string> neededLibraries(const std::string& file)
{
    auto read = runCommand({ programPath("readelf"), "--dynamic", "--wide", file });
    std::vector<std::string> needed;
    static const std::regex entry(R"(\(NEEDED\)\s+Shared library: \[([^\]]+)\])");
    for (std::sregex_iterator match(read.output.begin(), read.output.end(), entry), end; match != end; ++match)
        needed.push_back((*match)[1]);
    return needed;
}

} // namespace

BaseSetSandbox::BaseSetSandbox(const std::string& baseSet, const std::string& display)
{
    binds_ = { "--die-with-parent", "--unshare-ipc", "--proc", "/proc", "--dev", "/dev", "--tmpfs", "/tmp",
        "--dir", sandboxLibraries, "--symlink", "usr/lib", "/lib", "--dir", "/lib64" };
    // A name of the list that this machine lacks is one no program here
    // needs; what the base-set libraries load comes along, as it does on
    // any system that has them.
    std::set<std::string> seen;
    std::vector<std::string> pending = baseSetNames(baseSet);
    while (!pending.empty()) {
        const std::string name = pending.back();
        pending.pop_back();
        if (!seen.insert(name).second)
            continue;
        const std::string path = systemLibrary(name);
        if (path.empty())
            continue;
        const std::string real = fs::canonical(path).string();
        binds_.insert(binds_.end(), { "--ro-bind", real, sandboxLibraries + "/" + name });
        if (name.starts_with("ld-linux"))
            binds_.insert(binds_.end(), { "--ro-bind", real, "/lib64/" + name });
        libraries_.push_back(name);
        for (auto& needed : neededLibraries(real))
            pending.push_back(needed);
    }
    for (const char* shared : { "/usr/share/fonts", "/etc/fonts", "/usr/share/X11" }) {
        std::error_code error;
        if (fs::exists(shared, error))
            binds_.insert(binds_.end(), { "--ro-bind", shared, shared });
    }
    const std::string socket = "/tmp/.X11-unix/X" + display.substr(display.find(':') + 1);
    binds_.insert(binds_.end(), { "--ro-bind", socket, socket });
}

void BaseSetSandbox::lend(const std::string& folder)
{
    binds_.insert(binds_.end(), { "--bind", folder, folder });
}

void BaseSetSandbox::lendReadOnly(const std::string& folder)
{
    binds_.insert(binds_.end(), { "--ro-bind", folder, folder });
}

std::vector<std::string> BaseSetSandbox::command(const std::vector<std::string>& arguments) const
{
    std::vector<std::string> whole { programPath("bwrap") };
    whole.insert(whole.end(), binds_.begin(), binds_.end());
    whole.push_back("--");
    whole.insert(whole.end(), arguments.begin(), arguments.end());
    return whole;
}

namespace {

pid_t parentOf(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(in, line);
    // The name in parentheses may hold spaces; the fields after it do not.
    const auto close = line.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(line.substr(close + 1));
    std::string state;
    pid_t parent = 0;
    fields >> state >> parent;
    return parent;
}

bool below(pid_t pid, pid_t ancestor)
{
    for (int depth = 0; pid > 1 && depth < 16; ++depth) {
        pid = parentOf(pid);
        if (pid == ancestor)
            return true;
    }
    return false;
}

} // namespace

pid_t descendantRunning(pid_t ancestor, const std::string& program, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    do {
        std::error_code error;
        for (fs::directory_iterator entry("/proc", error), end; !error && entry != end; entry.increment(error)) {
            const std::string name = entry->path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos)
                continue;
            std::error_code unreadable;
            // Inside the sandbox's own root the path may read differently.
            if (fs::read_symlink(entry->path() / "exe", unreadable).filename() != fs::path(program).filename())
                continue;
            const pid_t pid = std::stoi(name);
            if (below(pid, ancestor))
                return pid;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < deadline);
    return 0;
}

} // namespace quillmark::testing
