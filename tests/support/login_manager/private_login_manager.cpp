#include "tests/support/login_manager/private_login_manager.hpp"

#include "tests/support/child_process.hpp"
#include "tests/support/temporary_folder.hpp"

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace quillmark::testing {
namespace {

constexpr auto generousWait = std::chrono::seconds(60);

// Anyone on this bus may own any name and call anything: it exists for one test.
constexpr const char* configuration = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <listen>unix:path=%SOCKET%</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
    <allow user="*"/>
  </policy>
</busconfig>
)";

} // namespace

std::unique_ptr<PrivateLoginManager> PrivateLoginManager::start(const std::string& folder, Answer answer, std::string& whyNot)
{
    auto daemon = programPath("dbus-daemon");
    if (daemon.empty()) {
        whyNot = "dbus-daemon is not installed, so there is no bus for the login-manager stand-in.";
        return nullptr;
    }
    std::unique_ptr<PrivateLoginManager> manager(new PrivateLoginManager());
    auto socket = folder + "/system_bus_socket";
    std::string text = configuration;
    text.replace(text.find("%SOCKET%"), 8, socket);
    writeFile(folder + "/system-bus.conf", text);
    manager->address_ = "unix:path=" + socket;
    manager->report_ = folder + "/login-manager.report";
    manager->bus_ = std::make_unique<RunningChild>(
        std::vector<std::string> { daemon, "--config-file=" + folder + "/system-bus.conf", "--nofork", "--nopidfile" });
    if (!eventually([&] { return std::filesystem::exists(socket); }, generousWait)) {
        whyNot = "the private bus did not start";
        return nullptr;
    }
    std::vector<std::string> standIn { QUILLMARK_LOGIN_MANAGER_STAND_IN, manager->address_, manager->report_ };
    if (answer == Answer::refuse)
        standIn.push_back("--refuse");
    manager->standIn_ = std::make_unique<RunningChild>(standIn);
    if (!manager->waitForEvents(1) || manager->events().front() != "ready") {
        whyNot = "the login-manager stand-in did not start";
        return nullptr;
    }
    return manager;
}

PrivateLoginManager::~PrivateLoginManager()
{
    standIn_.reset();
    bus_.reset();
}

std::vector<std::string> PrivateLoginManager::events() const
{
    std::vector<std::string> lines;
    std::ifstream report(report_);
    for (std::string line; std::getline(report, line);)
        lines.push_back(line);
    return lines;
}

bool PrivateLoginManager::waitForEvents(std::size_t count) const
{
    return eventually([&] { return events().size() >= count; }, generousWait);
}

} // namespace quillmark::testing
