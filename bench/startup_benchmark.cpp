// Times how long the installer takes from being started to its window being
// mapped on the display: started from the runnable file (FUSE mount by the
// runtime included) against started from the same image loop-mounted, in
// one run, alternating, with a warm cache. Needs root for the loop mount;
// not part of the test suites: run it by hand (see README).

#include "bench/shell_command.hpp"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using quillmark::bench::firstLineOf;
using quillmark::bench::runShellCommand;
using quillmark::bench::shellQuoted;

constexpr int rounds = 7;
const std::string installerInImage = "Install Quillmark.app/Contents/MacOS/QuillmarkInstaller";

pid_t spawn(const std::string& program, const std::vector<std::string>& environment)
{
    std::vector<std::string> variables(environment);
    for (char** entry = environ; *entry; ++entry)
        variables.emplace_back(*entry);
    std::vector<char*> envp;
    for (auto& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::string argument0 = program;
    char* argv[] = { argument0.data(), nullptr };
    pid_t pid = -1;
    if (::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, envp.data()) != 0)
        throw std::runtime_error("could not start " + program);
    return pid;
}

int waitFor(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Watches the display for the first top-level window that is mapped.
class MapWatch {
public:
    explicit MapWatch(const std::string& display)
    {
        connection_ = xcb_connect(display.c_str(), nullptr);
        if (xcb_connection_has_error(connection_))
            throw std::runtime_error("cannot connect to the display " + display);
        auto* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, screen->root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection_);
    }
    ~MapWatch() { xcb_disconnect(connection_); }

    // The moment a window that is not a pop-up is mapped, seen from here.
    Clock::time_point nextTopLevelMapped()
    {
        auto deadline = Clock::now() + 120s;
        while (Clock::now() < deadline) {
            while (auto* event = xcb_poll_for_event(connection_)) {
                bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY
                    && !reinterpret_cast<xcb_map_notify_event_t*>(event)->override_redirect;
                std::free(event);
                if (mapped)
                    return Clock::now();
            }
            pollfd watched { xcb_get_file_descriptor(connection_), POLLIN, 0 };
            ::poll(&watched, 1, 1000);
        }
        throw std::runtime_error("no window was mapped within two minutes");
    }

    // Drops what the last run left, such as its window's unmapping: a round
    // trip to the server brings in every event before it.
    void forgetPending()
    {
        std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
        while (auto* event = xcb_poll_for_event(connection_))
            std::free(event);
    }

private:

    xcb_connection_t* connection_ = nullptr;
};

// An X server on a display number it picks itself and reports on a pipe.
std::string startVirtualDisplay(pid_t& server)
{
    int reported[2];
    if (::pipe(reported) != 0)
        throw std::runtime_error("no pipe for Xvfb");
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, reported[1], 3);
    std::vector<std::string> arguments = { "/usr/bin/Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24",
        "-nolisten", "tcp", "-noreset" };
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    int failed = ::posix_spawn(&server, argv[0], &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(reported[1]);
    std::string number;
    char c;
    while (!failed && ::read(reported[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(reported[0]);
    if (failed || number.empty())
        throw std::runtime_error("Xvfb did not start");
    return ":" + number;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main()
{
    if (::geteuid() != 0) {
        std::cerr << "startup_benchmark loop-mounts the image, which needs root.\n";
        return 1;
    }
    // The loop mount stays private to this process.
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        std::cerr << "startup_benchmark: no private mount namespace: " << std::strerror(errno) << "\n";
        return 1;
    }
    const fs::path work = firstLineOf("mktemp -d /var/tmp/quillmark-startup-benchmark.XXXXXX");
    pid_t xvfb = -1;
    int exitStatus = 0;
    try {
        const auto image = (work / "Quillmark.squashfs").string();
        const auto made = firstLineOf("'" QUILLMARK_MAKE_DISK_IMAGE "' " + shellQuoted(image) + " "
            + shellQuoted(QUILLMARK_INSTALLER_BUNDLE_DIR) + " " + shellQuoted(QUILLMARK_SAMPLE_PAYLOAD_DIR) + " "
            + shellQuoted(QUILLMARK_IMAGE_RUNTIME) + " | tail -n 1");
        const auto volume = work / "volume";
        fs::create_directories(volume);
        runShellCommand("mount -t squashfs -o loop,ro " + shellQuoted(image) + " " + shellQuoted(volume.string()));
        for (const char* own : { "home", "runtime" }) {
            fs::create_directories(work / own);
            fs::permissions(work / own, fs::perms::owner_all);
        }

        const std::string display = startVirtualDisplay(xvfb);
        MapWatch watch(display);

        const std::vector<std::string> environment = { "DISPLAY=" + display, "HOME=" + (work / "home").string(),
            "XDG_RUNTIME_DIR=" + (work / "runtime").string() };
        struct Way {
            const char* name;
            std::string program;
            std::vector<double> seconds;
        };
        std::vector<Way> ways = { { "loop-mounted image", (volume / installerInImage).string(), {} },
            { "runnable file", made, {} } };
        // The first round of each only warms the cache.
        for (int round = 0; round <= rounds; ++round) {
            for (auto& way : ways) {
                watch.forgetPending();
                auto started = Clock::now();
                pid_t pid = spawn(way.program, environment);
                auto mapped = watch.nextTopLevelMapped();
                ::kill(pid, SIGTERM);
                if (int status = waitFor(pid); status != 0)
                    throw std::runtime_error(std::string(way.name) + " ended with status " + std::to_string(status));
                if (round > 0)
                    way.seconds.push_back(std::chrono::duration<double>(mapped - started).count());
            }
        }

        std::cout << std::fixed << std::setprecision(3);
        std::cout << "From start to the installer's window mapped, median of " << rounds << " rounds (seconds):\n";
        for (const auto& way : ways) {
            std::cout << "  " << std::left << std::setw(20) << way.name << median(way.seconds) << "   (";
            for (double s : way.seconds)
                std::cout << " " << s;
            std::cout << " )\n";
        }
        std::cout << "  runnable file costs " << median(ways[1].seconds) - median(ways[0].seconds)
                  << " s more than the loop-mounted image\n";
    } catch (const std::exception& error) {
        std::cerr << "startup_benchmark: " << error.what() << "\n";
        exitStatus = 1;
    }
    if (xvfb > 0) {
        ::kill(xvfb, SIGTERM);
        waitFor(xvfb);
    }
    ::umount2((work / "volume").c_str(), MNT_DETACH);
    std::error_code ignored;
    fs::remove_all(work, ignored);
    return exitStatus;
}
