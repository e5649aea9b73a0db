#include "platform/desktop/system_workspace.hpp"

#include "tests/app/private_desktop.hpp"
#include "tests/support/bundle_builder.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/running_child.hpp"
#include "tests/support/temporary_folder.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <future>
#include <sstream>
#include <csignal>
#include <pthread.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace quillmark::platform {
namespace {

using testing::BundleBuilder;
using testing::RunningChild;
using testing::eventually;

// Quits on SIGTERM like the viewer does.
constexpr const char* quitsOnRequest = "#!/bin/sh\ntrap 'exit 0' TERM\nread line\n";
// Ignores SIGTERM, as a viewer with unsaved work may.
constexpr const char* declinesToQuit = "#!/bin/sh\ntrap '' TERM\nread line\n";

std::string programOf(const FileURL& bundle)
{
    return bundle.path() + "/Contents/MacOS/Quillmark";
}

// The listed applications that run from `bundle` (path as listed).
RunningApplications listedAt(const std::string& bundle)
{
    RunningApplications found;
    for (auto& application : SystemWorkspace().runningApplications()) {
        auto url = application->bundleURL();
        if (url && url->path() == bundle)
            found.push_back(application);
    }
    return found;
}

class SystemWorkspaceTest : public ::testing::Test {
protected:
    testing::TemporaryFolder folder;
};

TEST_F(SystemWorkspaceTest, ListsAScriptByItsBundleWithTheBundleIdentifier)
{
    auto bundle = BundleBuilder().set("CFBundleIdentifier", "app.quillmark.viewer").executable(quitsOnRequest).write(folder.path("Quillmark.app"));
    RunningChild copy({ programOf(bundle) });
    ASSERT_TRUE(eventually([&] { return listedAt(bundle.path()).size() == 1; })) << "the script's process is not listed";
    auto listed = listedAt(bundle.path()).front();
    EXPECT_EQ(listed->bundleIdentifier(), "app.quillmark.viewer");
    EXPECT_EQ(listed->bundleURL(), FileURL(bundle.path(), true));
    EXPECT_FALSE(listed->isTerminated());
}

std::string bytesOf(const std::string& path)
{
    std::ifstream source(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << source.rdbuf();
    return bytes.str();
}

// A bundle whose program is a copy of the compiled program at `program`.
FileURL compiledBundle(const std::string& at, const std::string& program, const char* identifier = "app.quillmark.viewer")
{
    auto bundle = BundleBuilder().set("CFBundleIdentifier", identifier).withoutExecutable().write(at);
    testing::writeFile(programOf(bundle), bytesOf(program), 0755);
    return bundle;
}

bool signalInStatusMask(pid_t pid, const std::string& field, int signal)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field + ":", 0) == 0)
            return (std::stoull(line.substr(field.size() + 1), nullptr, 16) >> (signal - 1)) & 1ULL;
    return false;
}

constexpr const char* loader = "/lib64/ld-linux-x86-64.so.2";

TEST_F(SystemWorkspaceTest, ListsACompiledProgramByItsBundle)
{
    auto bundle = compiledBundle(folder.path("Other.app"), "/bin/sleep", "app.quillmark.other");
    RunningChild copy({ programOf(bundle), "30" });
    ASSERT_TRUE(eventually([&] { return listedAt(bundle.path()).size() == 1; }));
    EXPECT_EQ(listedAt(bundle.path()).front()->bundleIdentifier(), "app.quillmark.other");
}

// Started through the dynamic loader, the process's program is the loader;
// the bundle's program is only one of its mapped files. Once that file is
// deleted and a new copy put at the same path, the old file stays mapped.
TEST_F(SystemWorkspaceTest, ListsACopyWhoseProgramIsOnlyMapped)
{
    if (::access(loader, X_OK) != 0)
        GTEST_SKIP() << "no dynamic loader at " << loader;
    struct Case {
        const char* name;
        bool replacedWhileRunning;
    };
    for (auto row : { Case { "started through the loader", false }, Case { "its files replaced by a new copy", true } }) {
        SCOPED_TRACE(row.name);
        testing::TemporaryFolder place;
        auto bundle = compiledBundle(place.path("Quillmark.app"), "/bin/sleep");
        RunningChild copy({ loader, programOf(bundle), "30" });
        ASSERT_TRUE(eventually([&] { return listedAt(bundle.path()).size() == 1; })) << "the copy is not listed";
        if (row.replacedWhileRunning) {
            ASSERT_EQ(testing::runCommand({ "/bin/rm", "-rf", bundle.path() }).exitStatus, 0);
            compiledBundle(bundle.path(), "/bin/true");
        }
        ASSERT_TRUE(eventually([&] { return listedAt(bundle.path()).size() == 1; })) << "the copy is not listed";
        auto listed = listedAt(bundle.path()).front();
        EXPECT_EQ(listed->bundleIdentifier(), "app.quillmark.viewer");
        EXPECT_EQ(listed->bundleURL(), FileURL(bundle.path(), true));
        EXPECT_FALSE(listed->isTerminated());
    }
}

// Most programs leave SIGTERM to its default action, which ends them at once:
// without a window to ask, such a program is sent nothing and keeps running.
TEST_F(SystemWorkspaceTest, AProgramThatWouldDieOfSIGTERMAndHasNoWindowIsLeftRunning)
{
    auto bundle = compiledBundle(folder.path("Quillmark.app"), "/bin/sleep");
    RunningChild copy({ programOf(bundle), "30" });
    ASSERT_TRUE(eventually([&] { return listedAt(bundle.path()).size() == 1; }));
    ASSERT_FALSE(signalInStatusMask(copy.pid(), "SigCgt", SIGTERM));
    ASSERT_FALSE(signalInStatusMask(copy.pid(), "SigBlk", SIGTERM));
    auto listed = listedAt(bundle.path()).front();
    listed->requestQuit();

    EXPECT_FALSE(eventually([&] { return copy.state() != 'S' && copy.state() != 'R'; }, std::chrono::milliseconds(300)))
        << "the program was stopped";
    EXPECT_FALSE(signalInStatusMask(copy.pid(), "SigPnd", SIGTERM));
    EXPECT_FALSE(signalInStatusMask(copy.pid(), "ShdPnd", SIGTERM));
    EXPECT_FALSE(listed->isTerminated());
    EXPECT_EQ(listedAt(bundle.path()).size(), 1u);
}

// A program that is no copy may still map a file of the bundle, a document
// or a resource, for reading; only a file mapped to run code makes a copy.
TEST_F(SystemWorkspaceTest, OnlyAFileMappedToRunMakesARunningCopy)
{
    struct Case {
        const char* name;
        std::vector<std::string> extra;
        bool listed;
        int exitStatus; // 10: the program was sent SIGTERM
    };
    for (const auto& row : { Case { "mapped for reading", {}, false, 0 }, Case { "mapped to run", { "exec" }, true, 10 } }) {
        SCOPED_TRACE(row.name);
        testing::TemporaryFolder place;
        auto bundle = BundleBuilder().executable(quitsOnRequest).write(place.path("Quillmark.app"));
        auto resource = bundle.path() + "/Contents/Resources/About.txt";
        auto ready = place.path("ready");
        std::vector<std::string> arguments { QUILLMARK_QUIT_SIGNAL_PROBE, "map", resource, ready };
        arguments.insert(arguments.end(), row.extra.begin(), row.extra.end());
        RunningChild program(arguments);
        ASSERT_TRUE(eventually([&] { return ::access(ready.c_str(), F_OK) == 0 || program.state() == 'Z'; }));
        ASSERT_NE(program.state(), 'Z') << "the program could not map the file";

        auto listed = listedAt(bundle.path());
        EXPECT_EQ(listed.size(), row.listed ? 1u : 0u);
        for (auto& application : listed)
            application->requestQuit();
        program.closeInput();
        ASSERT_TRUE(eventually([&] { return program.state() == 'Z'; }));
        ASSERT_TRUE(program.collect());
        ASSERT_TRUE(WIFEXITED(program.waitStatus()));
        EXPECT_EQ(WEXITSTATUS(program.waitStatus()), row.exitStatus);
    }
}

// A copy that blocks SIGTERM with nothing to read it would die of it the
// moment it unblocks it; only a signalfd that reads it makes it handled.
TEST_F(SystemWorkspaceTest, ACopyThatBlocksSIGTERMForAMomentIsNeverSignalled)
{
    auto bundle = compiledBundle(folder.path("Quillmark.app"), QUILLMARK_QUIT_SIGNAL_PROBE);
    auto ready = folder.path("ready");
    RunningChild copy({ programOf(bundle), "block-briefly", ready });
    ASSERT_TRUE(eventually([&] { return ::access(ready.c_str(), F_OK) == 0; }));
    ASSERT_TRUE(signalInStatusMask(copy.pid(), "SigBlk", SIGTERM));
    ASSERT_EQ(listedAt(bundle.path()).size(), 1u);
    listedAt(bundle.path()).front()->requestQuit();

    EXPECT_FALSE(signalInStatusMask(copy.pid(), "SigPnd", SIGTERM));
    EXPECT_FALSE(signalInStatusMask(copy.pid(), "ShdPnd", SIGTERM));
    copy.closeInput();
    ASSERT_TRUE(eventually([&] { return copy.state() == 'Z'; }));
    ASSERT_TRUE(copy.collect());
    EXPECT_FALSE(WIFSIGNALED(copy.waitStatus())) << "ended by signal " << WTERMSIG(copy.waitStatus());
    EXPECT_TRUE(WIFEXITED(copy.waitStatus()) && WEXITSTATUS(copy.waitStatus()) == 0);
}

TEST_F(SystemWorkspaceTest, ACopyThatReadsSIGTERMThroughASignalfdQuitsOnRequest)
{
    auto bundle = compiledBundle(folder.path("Quillmark.app"), QUILLMARK_QUIT_SIGNAL_PROBE);
    auto ready = folder.path("ready");
    RunningChild copy({ programOf(bundle), "signalfd", ready });
    ASSERT_TRUE(eventually([&] { return ::access(ready.c_str(), F_OK) == 0; }));
    ASSERT_EQ(listedAt(bundle.path()).size(), 1u);
    listedAt(bundle.path()).front()->requestQuit();

    ASSERT_TRUE(eventually([&] { return copy.state() == 'Z'; })) << "the copy was not asked";
    ASSERT_TRUE(copy.collect());
    EXPECT_TRUE(WIFEXITED(copy.waitStatus()) && WEXITSTATUS(copy.waitStatus()) == 0);
}

// The test's own X server stands for the installer's display, found the way
// any X11 program finds it: through DISPLAY.
class SystemWorkspaceWindowTest : public SystemWorkspaceTest {
protected:
    void SetUp() override
    {
        std::string whyNot;
        display = testing::VirtualDisplay::start(whyNot);
        if (!display)
            GTEST_SKIP() << whyNot;
        if (const char* current = std::getenv("DISPLAY"))
            previousDisplay = current;
        ::setenv("DISPLAY", display->name().c_str(), 1);
    }

    void TearDown() override
    {
        if (previousDisplay)
            ::setenv("DISPLAY", previousDisplay->c_str(), 1);
        else
            ::unsetenv("DISPLAY");
    }

    std::unique_ptr<testing::VirtualDisplay> display;
    std::optional<std::string> previousDisplay;
};

TEST_F(SystemWorkspaceWindowTest, AWindowProgramWithoutASIGTERMHandlerQuitsThroughItsWindow)
{
    auto bundle = compiledBundle(folder.path("Quillmark.app"), QUILLMARK_WINDOW_WITHOUT_QUIT_SIGNAL);
    auto ready = folder.path("window-shown");
    RunningChild copy({ programOf(bundle), ready });
    ASSERT_TRUE(eventually([&] { return ::access(ready.c_str(), F_OK) == 0 || copy.state() == 'Z'; }, std::chrono::seconds(10)));
    ASSERT_NE(copy.state(), 'Z') << "the window program could not show its window";
    ASSERT_FALSE(signalInStatusMask(copy.pid(), "SigCgt", SIGTERM));
    ASSERT_EQ(listedAt(bundle.path()).size(), 1u);
    listedAt(bundle.path()).front()->requestQuit();

    ASSERT_TRUE(eventually([&] { return copy.state() == 'Z'; })) << "the window was not asked to close";
    ASSERT_TRUE(copy.collect());
    EXPECT_FALSE(WIFSIGNALED(copy.waitStatus())) << "ended by signal " << WTERMSIG(copy.waitStatus());
    ASSERT_TRUE(WIFEXITED(copy.waitStatus()));
    EXPECT_EQ(WEXITSTATUS(copy.waitStatus()), 0);
}

// Sends the close request a window manager's close button sends, with a time.
void closeAsTheUserWould(const std::string& display, uint32_t window)
{
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    ASSERT_FALSE(xcb_connection_has_error(connection));
    auto atom = [&](const char* name) {
        auto* reply = xcb_intern_atom_reply(connection,
            xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
        xcb_atom_t value = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
        std::free(reply);
        return value;
    };
    xcb_client_message_event_t request {};
    request.response_type = XCB_CLIENT_MESSAGE;
    request.format = 32;
    request.window = window;
    request.type = atom("WM_PROTOCOLS");
    request.data.data32[0] = atom("WM_DELETE_WINDOW");
    request.data.data32[1] = 1;
    xcb_send_event(connection, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&request));
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    xcb_disconnect(connection);
}

// Any client may set _NET_WM_PID on any window. A copy without a window of
// its own is claimed by another program's window: asking the copy to quit
// must not close that window. The installer's request has reached the
// server before it returns, so the window would see it before the close the
// test sends afterwards; the program's exit status tells which came first.
TEST_F(SystemWorkspaceWindowTest, AWindowThatOnlyClaimsTheCopysProcessNumberStaysOpen)
{
    auto bundle = compiledBundle(folder.path("Quillmark.app"), "/bin/sleep");
    RunningChild copy({ programOf(bundle), "30" });
    ASSERT_TRUE(eventually([&] { return listedAt(bundle.path()).size() == 1; }));
    auto ready = folder.path("window-shown");
    RunningChild impostor({ QUILLMARK_WINDOW_WITHOUT_QUIT_SIGNAL, ready, std::to_string(copy.pid()) });
    ASSERT_TRUE(eventually([&] { return ::access(ready.c_str(), F_OK) == 0 || impostor.state() == 'Z'; }, std::chrono::seconds(10)));
    ASSERT_NE(impostor.state(), 'Z') << "the window program could not show its window";
    listedAt(bundle.path()).front()->requestQuit();

    closeAsTheUserWould(display->name(), static_cast<uint32_t>(std::stoul(testing::readFile(ready))));
    ASSERT_TRUE(eventually([&] { return impostor.state() == 'Z'; }, std::chrono::seconds(10)));
    ASSERT_TRUE(impostor.collect());
    ASSERT_TRUE(WIFEXITED(impostor.waitStatus()));
    EXPECT_EQ(WEXITSTATUS(impostor.waitStatus()), 10) << "the installer's request closed the window";
    EXPECT_FALSE(signalInStatusMask(copy.pid(), "SigPnd", SIGTERM));
    EXPECT_FALSE(listedAt(bundle.path()).front()->isTerminated());
}

// Root sees every process on the machine; the running applications are still
// only its own. Another user's copy, one that would quit on SIGTERM, is left
// alone while the installer's own user's copy of the same bundle is asked.
TEST_F(SystemWorkspaceTest, AnotherUsersCopyIsNeitherListedNorAsked)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can start a process as another user";
    const passwd* nobody = ::getpwnam("nobody");
    if (nobody == nullptr)
        GTEST_SKIP() << "there is no user nobody";
    ASSERT_EQ(::chmod(folder.path().c_str(), 0755), 0);
    auto bundle = BundleBuilder().executable("#!/bin/sh\ntrap 'exit 0' TERM\nwhile :; do sleep 1; done\n").write(folder.path("Quillmark.app"));
    auto program = programOf(bundle);

    pid_t other = ::fork();
    ASSERT_GE(other, 0);
    if (other == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(nobody->pw_gid, nobody->pw_gid, nobody->pw_gid) != 0
            || ::setresuid(nobody->pw_uid, nobody->pw_uid, nobody->pw_uid) != 0)
            ::_exit(126);
        ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    auto otherState = [&] {
        std::ifstream file("/proc/" + std::to_string(other) + "/stat");
        std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        auto close = text.rfind(')');
        return close == std::string::npos || close + 2 >= text.size() ? '\0' : text[close + 2];
    };
    auto otherRunsTheScript = [&] {
        std::ifstream file("/proc/" + std::to_string(other) + "/cmdline");
        std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        return text.find(program) != std::string::npos && (otherState() == 'S' || otherState() == 'R');
    };
    bool started = eventually(otherRunsTheScript);
    RunningChild own({ program });
    bool ownListed = eventually([&] { return listedAt(bundle.path()).size() >= 1; });
    auto listed = listedAt(bundle.path());
    for (auto& application : listed)
        application->requestQuit();
    bool ownQuit = eventually([&] { return own.state() == 'Z'; });
    bool otherStillRuns = !eventually([&] { return otherState() == 'Z'; }, std::chrono::milliseconds(300));

    ::kill(other, SIGKILL); // clean-up of the test only
    int status = 0;
    ::waitpid(other, &status, 0);
    ASSERT_TRUE(started) << "the other user's copy did not start";
    ASSERT_TRUE(ownListed);
    EXPECT_EQ(listed.size(), 1u) << "another user's copy is listed";
    EXPECT_TRUE(ownQuit) << "the own copy was not asked";
    EXPECT_TRUE(otherStillRuns) << "another user's copy was signalled";
}

TEST_F(SystemWorkspaceTest, AProgramOutsideABundleHasNoBundle)
{
    testing::makeFolder(folder.path("Quillmark.app/Contents"));
    testing::writeFile(folder.path("Quillmark.app/Contents/run"), quitsOnRequest, 0755);
    RunningChild copy({ folder.path("Quillmark.app/Contents/run") });
    ASSERT_TRUE(eventually([&] { return copy.state() == 'S' || copy.state() == 'R'; }));
    for (auto& application : SystemWorkspace().runningApplications())
        EXPECT_NE(application->bundleURL(), FileURL(folder.path("Quillmark.app"), true));
}

TEST_F(SystemWorkspaceTest, AFIFONamedOnACommandLineDoesNotStallTheList)
{
    testing::makeFolder(folder.path("Trap.app/Contents/MacOS"));
    auto fifo = folder.path("Trap.app/Contents/MacOS/Quillmark");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    // cat waits to open the FIFO, with its path where a script's path would be.
    RunningChild reader({ "/bin/cat", fifo });
    ASSERT_TRUE(eventually([&] { return reader.state() == 'S'; }));

    auto listing = std::async(std::launch::async, [] { return SystemWorkspace().runningApplications().size(); });
    bool finished = listing.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    // Let every reader of the FIFO go, whatever happened.
    int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0)
        ::close(writer);
    EXPECT_TRUE(finished) << "the list waited on the FIFO";
    EXPECT_GT(listing.get(), 0u);
}

TEST_F(SystemWorkspaceTest, AQuitRequestIsSIGTERMAndTheCopyGoes)
{
    auto bundle = BundleBuilder().executable(quitsOnRequest).write(folder.path("Quillmark.app"));
    RunningChild copy({ programOf(bundle) });
    ASSERT_TRUE(eventually([&] { return listedAt(bundle.path()).size() == 1; }));
    auto listed = listedAt(bundle.path()).front();
    listed->requestQuit();

    ASSERT_TRUE(eventually([&] { return copy.state() == 'Z'; })) << "the script did not quit";
    // Ended but not yet collected by its parent: a zombie counts as terminated
    // and is no longer listed.
    EXPECT_TRUE(listed->isTerminated());
    EXPECT_TRUE(listedAt(bundle.path()).empty());
    ASSERT_TRUE(copy.collect());
    EXPECT_TRUE(listed->isTerminated());
}

TEST_F(SystemWorkspaceTest, ACopyThatDeclinesStaysListed)
{
    auto bundle = BundleBuilder().executable(declinesToQuit).write(folder.path("Quillmark.app"));
    RunningChild copy({ programOf(bundle) });
    ASSERT_TRUE(eventually([&] { return listedAt(bundle.path()).size() == 1; }));
    auto listed = listedAt(bundle.path()).front();
    listed->requestQuit();
    listed->requestQuit();

    EXPECT_FALSE(eventually([&] { return copy.state() == 'Z'; }, std::chrono::milliseconds(300)));
    EXPECT_FALSE(listed->isTerminated());
    EXPECT_EQ(listedAt(bundle.path()).size(), 1u);
}

TEST_F(SystemWorkspaceTest, OpensTheApplicationInASessionOfItsOwn)
{
    auto bundle = BundleBuilder()
                      .executable("#!/bin/sh\ncat /proc/$$/stat > \"$(dirname \"$0\")/../started.tmp\"\npwd >> "
                                  "\"$(dirname \"$0\")/../started.tmp\"\nmv \"$(dirname \"$0\")/../started.tmp\" "
                                  "\"$(dirname \"$0\")/../started\"\n")
                      .write(folder.path("Quillmark.app"));
    std::promise<std::exception_ptr> answered;
    SystemWorkspace().openApplication(bundle, [&](std::exception_ptr error) { answered.set_value(error); });
    auto error = answered.get_future().get();
    ASSERT_EQ(error, nullptr);

    auto marker = bundle.path() + "/Contents/started";
    ASSERT_TRUE(eventually([&] { return ::access(marker.c_str(), F_OK) == 0; })) << "the application did not run";
    std::istringstream report(testing::readFile(marker));
    std::string statLine, folderLine;
    std::getline(report, statLine);
    std::getline(report, folderLine);
    std::istringstream fields(statLine.substr(statLine.rfind(')') + 2));
    std::string state, parent, group, session;
    fields >> state >> parent >> group >> session;
    auto pid = statLine.substr(0, statLine.find(' '));
    EXPECT_EQ(session, pid) << "it leads a session of its own";
    EXPECT_EQ(folderLine, "/") << "it does not hold the installer's folder";
}

// The installer handles its quit signals its own way (blocked, or ignored
// while it commits); the application it opens must still quit on SIGTERM.
TEST_F(SystemWorkspaceTest, TheOpenedApplicationQuitsOnSIGTERMWhateverTheInstallerDoes)
{
    auto bundle = BundleBuilder()
                      .executable("#!/bin/sh\necho $$ > \"$(dirname \"$0\")/../pid.tmp\"\nmv \"$(dirname \"$0\")/../pid.tmp\" "
                                  "\"$(dirname \"$0\")/../pid\"\nexec /bin/sleep 30\n")
                      .write(folder.path("Quillmark.app"));
    sigset_t quitSignals, previous;
    sigemptyset(&quitSignals);
    sigaddset(&quitSignals, SIGTERM);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &quitSignals, &previous), 0);
    auto previousHandler = ::signal(SIGTERM, SIG_IGN);
    std::promise<std::exception_ptr> answered;
    SystemWorkspace().openApplication(bundle, [&](std::exception_ptr error) { answered.set_value(error); });
    auto error = answered.get_future().get();
    ::signal(SIGTERM, previousHandler);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ASSERT_EQ(error, nullptr);

    auto pidFile = bundle.path() + "/Contents/pid";
    ASSERT_TRUE(eventually([&] { return ::access(pidFile.c_str(), F_OK) == 0; }));
    pid_t pid = std::stoi(testing::readFile(pidFile));
    auto alive = [&] { return ::access(("/proc/" + std::to_string(pid) + "/exe").c_str(), F_OK) == 0; };
    ASSERT_TRUE(alive());
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    bool ended = eventually([&] { return !alive(); });
    if (!ended)
        ::kill(pid, SIGKILL); // clean-up of the test only
    EXPECT_TRUE(ended) << "the opened application ignored SIGTERM";
}

TEST_F(SystemWorkspaceTest, AnApplicationThatCannotStartReportsWhy)
{
    struct Case {
        const char* name;
        BundleBuilder builder;
        std::string expected;
    };
    auto at = [&](const char* name) { return folder.path(std::string(name) + ".app"); };
    std::vector<Case> cases = {
        { "NotExecutable", BundleBuilder().executable("#!/bin/sh\nexit 0\n", 0644),
            "Could not start \u201C" + at("NotExecutable") + "/Contents/MacOS/Quillmark\u201D because you don't have permission." },
        { "Missing", BundleBuilder().withoutExecutable(),
            "Could not start \u201C" + at("Missing") + "/Contents/MacOS/Quillmark\u201D because there is no such file or folder." },
        { "Unnamed", BundleBuilder().remove("CFBundleExecutable"),
            "The application \u201C" + at("Unnamed") + "\u201D does not name its program." },
    };
    for (auto& row : cases) {
        SCOPED_TRACE(row.name);
        auto bundle = row.builder.write(at(row.name));
        std::promise<std::exception_ptr> answered;
        SystemWorkspace().openApplication(bundle, [&](std::exception_ptr error) { answered.set_value(std::move(error)); });
        auto error = answered.get_future().get();
        ASSERT_NE(error, nullptr);
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& failure) {
            EXPECT_EQ(std::string(failure.what()), row.expected);
        }
    }
}

} // namespace
} // namespace quillmark::platform
