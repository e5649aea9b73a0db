#include "tests/app/accessibility_bus.hpp"

#include "tests/app/private_desktop.hpp"
#include "tests/support/child_process.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace quillmark::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* busLauncher = "/usr/libexec/at-spi-bus-launcher";

// Started with no signal blocked, unlike the test's other children: the bus
// programs clean up after themselves on SIGTERM.
pid_t startDaemon(std::vector<std::string> arguments, const std::vector<std::string>& extraEnvironment)
{
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string variable = *entry;
        if (!variable.starts_with("AT_SPI_BUS_ADDRESS=") && !variable.starts_with("DBUS_SESSION_BUS_ADDRESS="))
            environment.push_back(variable);
    }
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& variable : environment)
        envp.push_back(variable.data());
    envp.push_back(nullptr);

    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    int failure = ::posix_spawn(&pid, argv[0], nullptr, &attributes, argv.data(), envp.data());
    ::posix_spawnattr_destroy(&attributes);
    return failure == 0 ? pid : -1;
}

void stopDaemon(pid_t pid)
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + 5s;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return;
        }
        std::this_thread::sleep_for(10ms);
    }
}

bool exited(pid_t pid)
{
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == pid;
}

} // namespace

std::unique_ptr<PrivateAccessibilityBus> PrivateAccessibilityBus::start(const std::string& folder,
    const std::string& display, std::string& whyNot)
{
    auto daemon = programOnPath("dbus-daemon");
    auto send = programOnPath("dbus-send");
    if (!daemon || !send) {
        whyNot = "the D-Bus daemon and dbus-send are not installed";
        return nullptr;
    }
    if (::access(busLauncher, X_OK) != 0) {
        whyNot = "the accessibility bus launcher is not installed (at-spi2-core)";
        return nullptr;
    }
    std::unique_ptr<PrivateAccessibilityBus> bus(new PrivateAccessibilityBus);
    const std::string socket = folder + "/session-bus";
    bus->sessionAddress_ = "unix:path=" + socket;
    bus->sessionBus_ = startDaemon({ *daemon, "--config-file=" QUILLMARK_PRIVATE_SESSION_BUS_CONFIG,
                                       "--address=" + bus->sessionAddress_, "--nofork", "--nopidfile" },
        {});
    struct stat status {};
    for (int wait = 0; wait < 200 && ::stat(socket.c_str(), &status) != 0 && !exited(bus->sessionBus_); ++wait)
        std::this_thread::sleep_for(25ms);
    if (bus->sessionBus_ < 0 || ::stat(socket.c_str(), &status) != 0) {
        whyNot = "the private session bus did not start";
        return nullptr;
    }

    // The launcher puts the accessibility bus's socket in the runtime folder.
    const std::string runtime = folder + "/bus-runtime";
    ::mkdir(runtime.c_str(), 0700);
    bus->launcher_ = startDaemon({ busLauncher, "--launch-immediately" },
        { "DBUS_SESSION_BUS_ADDRESS=" + bus->sessionAddress_, "DISPLAY=" + display, "XDG_RUNTIME_DIR=" + runtime });
    for (int wait = 0; wait < 200; ++wait) {
        auto asked = runCommand({ *send, "--bus=" + bus->sessionAddress_, "--print-reply", "--dest=org.a11y.Bus",
            "/org/a11y/bus", "org.a11y.Bus.GetAddress" });
        if (asked.exitStatus == 0)
            return bus;
        if (bus->launcher_ < 0 || exited(bus->launcher_))
            break;
        std::this_thread::sleep_for(25ms);
    }
    whyNot = "the accessibility bus did not start";
    return nullptr;
}

PrivateAccessibilityBus::~PrivateAccessibilityBus()
{
    // The launcher ends its accessibility bus, and the registry follows it.
    stopDaemon(launcher_);
    stopDaemon(sessionBus_);
}

void PrivateAccessibilityBus::useInThisProcess() const
{
    ::unsetenv("AT_SPI_BUS_ADDRESS");
    ::setenv("DBUS_SESSION_BUS_ADDRESS", sessionAddress_.c_str(), 1);
}

} // namespace quillmark::testing
