#include "platform/desktop/system_workspace.hpp"

#include "tests/support/bundle_builder.hpp"
#include "tests/support/running_child.hpp"
#include "tests/support/temporary_folder.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <sstream>
#include <csignal>
#include <pthread.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

TEST_F(SystemWorkspaceTest, ListsACompiledProgramByItsBundle)
{
    auto bundle = BundleBuilder().set("CFBundleIdentifier", "app.quillmark.other").withoutExecutable().write(folder.path("Other.app"));
    std::ifstream source("/bin/sleep", std::ios::binary);
    std::ostringstream bytes;
    bytes << source.rdbuf();
    testing::writeFile(programOf(bundle), bytes.str(), 0755);
    RunningChild copy({ programOf(bundle), "30" });
    ASSERT_TRUE(eventually([&] { return listedAt(bundle.path()).size() == 1; }));
    EXPECT_EQ(listedAt(bundle.path()).front()->bundleIdentifier(), "app.quillmark.other");

    listedAt(bundle.path()).front()->requestQuit();
    EXPECT_TRUE(eventually([&] { return copy.state() == 'Z'; })) << "the default SIGTERM action ends it";
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
