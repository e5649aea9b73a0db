// The runnable installer file: the image runtime followed by a disk image
// whose installer is a small stand-in script, so that what the runtime
// passes on, how it mounts and what it leaves behind can be read exactly.

#include "tests/support/child_process.hpp"
#include "tests/support/scoped_mount.hpp"
#include "tests/support/temporary_folder.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <csignal>
#include <filesystem>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace quillmark {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using testing::runCommand;
using testing::writeFile;

constexpr uid_t unprivilegedUser = 65534;
const std::string installerInImage = "Install Quillmark.app/Contents/MacOS/QuillmarkInstaller";

// Reports what it was started with to the file named by its first argument;
// "exit N" then ends with status N, "wait FIFO" waits until a signal comes.
constexpr const char* standInInstaller = R"script(#!/bin/bash
report=$1
shift
for signal in TERM INT HUP; do
  trap "echo 'got $signal' >>'$report'; exit 3" "$signal"
done
{
  echo "program: $0"
  for argument in "$@"; do echo "argument: $argument"; done
  echo "passed on: ${QUILLMARK_PASSED_ON-unset}"
  if touch "$(dirname "$0")/written" 2>/dev/null; then echo "volume: writable"; else echo "volume: read-only"; fi
  echo "process: $$"
  echo "runtime descriptors: $(for fd in /proc/$$/fd/*; do readlink "$fd"; done | grep -c -E '^socket:|^/dev/fuse$')"
} >>"$report"
case $1 in
  exit) exit "$2" ;;
  wait)
    exec 3<>"$2"
    echo ready >>"$report"
    read -r -u 3
    ;;
esac
)script";

bool waitUntil(const std::function<bool()>& condition, std::chrono::seconds limit = 60s)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::string mountsText()
{
    return testing::readFile("/proc/self/mounts");
}

// The value of the first "key: value" line of `report`.
std::string reported(const std::string& report, const std::string& key)
{
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(key + ": "))
            return line.substr(key.size() + 2);
    }
    return "";
}

enum class User { root, unprivileged };

// The runtime started as from a desktop: no signal blocked, so a signal it
// passes on reaches the installer at once.
class StartedRuntime {
public:
    explicit StartedRuntime(const std::vector<std::string>& arguments)
    {
        std::vector<char*> argv;
        for (const auto& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~StartedRuntime()
    {
        if (!status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    StartedRuntime(const StartedRuntime&) = delete;
    StartedRuntime& operator=(const StartedRuntime&) = delete;

    void signal(int number) const { ::kill(pid_, number); }
    // The exit status, 128 + the number of a signal that ended it, or
    // nothing while it still runs after `limit`.
    std::optional<int> waitForExit(std::chrono::seconds limit)
    {
        waitUntil(
            [&] {
                int status = 0;
                if (::waitpid(pid_, &status, WNOHANG) == pid_)
                    status_ = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
                return status_.has_value();
            },
            limit);
        return status_;
    }

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

class ImageRuntimeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "mounts, device nodes and a change of user need root";
        if (testing::programPath("mksquashfs").empty() || testing::programPath("fusermount3").empty())
            GTEST_SKIP() << "mksquashfs or fusermount3 is not installed";
        // Everything this test mounts stays in its own mount namespace.
        ASSERT_EQ(::unshare(CLONE_NEWNS), 0) << std::strerror(errno);
        ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0) << std::strerror(errno);
        // The unprivileged user must reach the runnable file and the report.
        ::chmod(folder.path().c_str(), 0755);
        testing::makeFolder(folder.path("disk/Install Quillmark.app/Contents/MacOS"));
        writeFile(folder.path("disk/" + installerInImage), standInInstaller, 0755);
        auto imaged = runCommand({ testing::programPath("mksquashfs"), folder.path("disk"), folder.path("image"),
            "-noappend", "-all-root", "-quiet", "-no-progress" });
        ASSERT_EQ(imaged.exitStatus, 0) << imaged.errors;
        auto joined = runCommand({ "/bin/bash", QUILLMARK_MAKE_RUNNABLE_FILE, QUILLMARK_IMAGE_RUNTIME,
            folder.path("image"), runnable });
        ASSERT_EQ(joined.exitStatus, 0) << joined.errors;
        testing::makeFolder(runtimeFolder);
        ::chmod(runtimeFolder.c_str(), 0700);
        writeFile(report, "", 0666);
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
        ::chmod(fifo.c_str(), 0666);
    }

    // As a desktop has it: /dev/fuse open to everyone, here only in this
    // test's mount namespace.
    void openFuseToEveryone()
    {
        std::string whyNot;
        fuseCopy = testing::ScopedMount::fuseOpenToEveryone(folder.path("fuse"), whyNot);
        ASSERT_TRUE(fuseCopy) << whyNot;
    }

    std::vector<std::string> command(User user, std::vector<std::string> arguments)
    {
        std::vector<std::string> result;
        if (user == User::unprivileged) {
            ::chown(runtimeFolder.c_str(), unprivilegedUser, unprivilegedUser);
            result = { testing::programPath("setpriv"), "--reuid=65534", "--regid=65534", "--clear-groups", "--" };
        }
        result.insert(result.end(), { "/usr/bin/env", "XDG_RUNTIME_DIR=" + runtimeFolder,
                                        "QUILLMARK_PASSED_ON=from the caller", runnable });
        result.insert(result.end(), arguments.begin(), arguments.end());
        return result;
    }

    std::unique_ptr<StartedRuntime> startWaiting(User user = User::root)
    {
        auto started = std::make_unique<StartedRuntime>(command(user, { report, "wait", fifo }));
        EXPECT_TRUE(waitUntil([&] { return testing::readFile(report).find("ready\n") != std::string::npos; }))
            << "the stand-in installer never started; it reported: " << testing::readFile(report);
        return started;
    }

    // Nothing of the runtime is left: no mount, no folder.
    void expectNothingLeft()
    {
        EXPECT_EQ(mountsText().find(runtimeFolder), std::string::npos) << mountsText();
        EXPECT_TRUE(fs::is_empty(runtimeFolder)) << "a folder was left in " << runtimeFolder;
    }

    testing::TemporaryFolder folder;
    const std::string runnable = folder.path("Install-Quillmark");
    const std::string runtimeFolder = folder.path("runtime");
    const std::string report = folder.path("report");
    const std::string fifo = folder.path("never-written");
    std::unique_ptr<testing::ScopedMount> fuseCopy;
};

class ImageRuntimeUserTest : public ImageRuntimeTest, public ::testing::WithParamInterface<User> { };

TEST_P(ImageRuntimeUserTest, RunsTheInstallerFromTheImageReadOnlyThenUnmounts)
{
    if (GetParam() == User::unprivileged)
        openFuseToEveryone();
    auto ran = runCommand(command(GetParam(), { report, "exit", "7", "two words" }));

    EXPECT_EQ(ran.exitStatus, 7) << ran.errors;
    const auto said = testing::readFile(report);
    const auto program = reported(said, "program");
    EXPECT_TRUE(program.starts_with(runtimeFolder + "/quillmark-image-")) << said;
    EXPECT_TRUE(program.ends_with("/" + installerInImage)) << said;
    EXPECT_NE(said.find("argument: exit\nargument: 7\nargument: two words\n"), std::string::npos) << said;
    EXPECT_EQ(reported(said, "passed on"), "from the caller");
    EXPECT_EQ(reported(said, "volume"), "read-only");
    // The FUSE connection and fusermount3's watcher socket stay with the
    // runtime, or a killed runtime's mount would outlive it.
    EXPECT_EQ(reported(said, "runtime descriptors"), "0");
    expectNothingLeft();
}

INSTANTIATE_TEST_SUITE_P(Users, ImageRuntimeUserTest, ::testing::Values(User::root, User::unprivileged),
    [](const auto& info) { return info.param == User::root ? "Root" : "UnprivilegedThroughFusermount3"; });

class ImageRuntimeSignalTest : public ImageRuntimeTest, public ::testing::WithParamInterface<int> { };

TEST_P(ImageRuntimeSignalTest, PassesTheSignalOnAndEndsWithTheInstallersStatus)
{
    auto runtime = startWaiting();
    ASSERT_FALSE(HasFailure());
    runtime->signal(GetParam());

    EXPECT_EQ(runtime->waitForExit(60s), 3);
    EXPECT_NE(testing::readFile(report).find(std::string("got ") + (sigabbrev_np(GetParam()))), std::string::npos)
        << testing::readFile(report);
    expectNothingLeft();
}

INSTANTIATE_TEST_SUITE_P(Signals, ImageRuntimeSignalTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
    [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

TEST_F(ImageRuntimeTest, AnInstallerKilledWithSigkillLeavesNothingMounted)
{
    auto runtime = startWaiting();
    ASSERT_FALSE(HasFailure());
    const pid_t installer = std::stoi(reported(testing::readFile(report), "process"));
    ASSERT_EQ(::kill(installer, SIGKILL), 0);

    EXPECT_EQ(runtime->waitForExit(60s), 128 + SIGKILL);
    expectNothingLeft();
}

TEST_F(ImageRuntimeTest, ARuntimeKilledWithSigkillLeavesNoDeadMount)
{
    // The orphaned installer comes to this process, which can then reap it.
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    auto runtime = startWaiting();
    ASSERT_FALSE(HasFailure());
    const auto said = testing::readFile(report);
    const pid_t installer = std::stoi(reported(said, "process"));
    const auto mountFolder = fs::path(reported(said, "program")).parent_path().parent_path().parent_path().parent_path();
    ASSERT_NE(mountsText().find(mountFolder.string() + " "), std::string::npos) << mountsText();

    runtime->signal(SIGKILL);
    EXPECT_EQ(runtime->waitForExit(60s), 128 + SIGKILL);

    EXPECT_TRUE(waitUntil([&] { return mountsText().find(mountFolder.string() + " ") == std::string::npos; }))
        << "still mounted: " << mountsText();
    struct stat status;
    EXPECT_EQ(::stat(mountFolder.c_str(), &status), 0) << "the folder is a dead mount: " << std::strerror(errno);
    // Without the runtime the installer is asked to quit.
    EXPECT_TRUE(waitUntil([&] { return testing::readFile(report).find("got TERM") != std::string::npos; })) << testing::readFile(report);
    ::kill(installer, SIGKILL);
    EXPECT_TRUE(waitUntil([&] { return ::waitpid(installer, nullptr, WNOHANG) == installer; }));
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
}

// How FUSE is taken away, in a mount namespace of the run's own.
struct MissingFuseCase {
    const char* name;
    const char* setUp;
    User user;
};

void PrintTo(const MissingFuseCase& missing, std::ostream* out)
{
    *out << missing.name;
}

class ImageRuntimeWithoutFuseTest : public ImageRuntimeTest, public ::testing::WithParamInterface<MissingFuseCase> { };

TEST_P(ImageRuntimeWithoutFuseTest, SaysHowToMountTheImageByHandAndEndsWithStatusOne)
{
    auto offset = runCommand({ runnable, "--image-offset" });
    ASSERT_EQ(offset.exitStatus, 0) << offset.errors;
    ASSERT_FALSE(offset.output.empty());
    offset.output.pop_back();

    // The set-up script finds the test's folder as $0.
    std::vector<std::string> run = { testing::programPath("unshare"), "-m", "--propagation", "private", "/bin/sh",
        "-c", std::string("set -e; ") + GetParam().setUp + "; exec \"$@\"", folder.path() };
    for (auto& argument : command(GetParam().user, { report, "exit", "0" }))
        run.push_back(argument);
    auto ran = runCommand(run);

    EXPECT_EQ(ran.exitStatus, 1);
    EXPECT_EQ(std::count(ran.errors.begin(), ran.errors.end(), '\n'), 1) << ran.errors;
    EXPECT_NE(ran.errors.find("FUSE is not available here"), std::string::npos) << ran.errors;
    EXPECT_NE(ran.errors.find("mount -o loop,ro,offset=" + offset.output + " '" + runnable + "' /mnt"),
        std::string::npos)
        << ran.errors;
    EXPECT_EQ(testing::readFile(report), "") << "the installer ran without its image mounted";
    EXPECT_TRUE(fs::is_empty(runtimeFolder));
}

INSTANTIATE_TEST_SUITE_P(Ways, ImageRuntimeWithoutFuseTest,
    ::testing::Values(
        MissingFuseCase { "NoFuseDevice", "mount -t tmpfs -o mode=0755 quillmark-test /dev; mknod -m 0666 /dev/null c 1 3",
            User::root },
        MissingFuseCase { "NoFusermount3", "mount --bind /dev/null \"$(readlink -f /usr/bin/fusermount3)\"", User::root },
        MissingFuseCase { "FuseDeviceRefusedToTheUser",
            "mknod -m 0600 \"$0/refusing-fuse\" c 10 229; mount --bind \"$0/refusing-fuse\" /dev/fuse",
            User::unprivileged }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ImageRuntimeTest, TheImageOffsetIsWhereALoopMountFindsTheImage)
{
    auto offset = runCommand({ runnable, "--image-offset" });
    ASSERT_EQ(offset.exitStatus, 0) << offset.errors;
    ASSERT_FALSE(offset.output.empty());
    offset.output.pop_back();
    const auto volume = folder.path("volume");
    testing::makeFolder(volume);
    auto mounted = runCommand({ "/bin/mount", "-t", "squashfs", "-o", "loop,ro,offset=" + offset.output, runnable, volume });
    if (mounted.exitStatus != 0)
        GTEST_SKIP() << "no loop device to check the offset with: " << mounted.errors;

    EXPECT_EQ(::access((volume + "/" + installerInImage).c_str(), X_OK), 0);
    ::umount2(volume.c_str(), MNT_DETACH);
}

TEST_F(ImageRuntimeTest, AFileWithoutAnImageSaysSo)
{
    const auto bare = folder.path("bare-runtime");
    fs::copy_file(QUILLMARK_IMAGE_RUNTIME, bare);
    auto ran = runCommand({ bare });

    EXPECT_EQ(ran.exitStatus, 1);
    EXPECT_EQ(ran.errors, bare + " carries no disk image; download the installer again.\n");
}

TEST(ImageRuntimeProgramTest, NeedsOnlyGlibcUpToVersion2_35AndIsStripped)
{
    for (const char* tool : { "readelf", "objdump" }) {
        if (testing::programPath(tool).empty())
            GTEST_SKIP() << tool << " is not installed";
    }
    auto dynamic = runCommand({ testing::programPath("readelf"), "-d", QUILLMARK_IMAGE_RUNTIME });
    ASSERT_EQ(dynamic.exitStatus, 0) << dynamic.errors;
    std::istringstream lines(dynamic.output);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("(NEEDED)") != std::string::npos) {
            EXPECT_NE(line.find("[libc.so.6]"), std::string::npos) << "needs more than glibc: " << line;
        }
    }

    auto symbols = runCommand({ testing::programPath("objdump"), "-T", QUILLMARK_IMAGE_RUNTIME });
    ASSERT_EQ(symbols.exitStatus, 0) << symbols.errors;
    for (auto at = symbols.output.find("GLIBC_2."); at != std::string::npos; at = symbols.output.find("GLIBC_2.", at + 1)) {
        auto minor = std::stoi(symbols.output.substr(at + 8));
        EXPECT_LE(minor, 35) << "a symbol needs " << symbols.output.substr(at, 12);
    }

    auto sections = runCommand({ testing::programPath("readelf"), "-S", QUILLMARK_IMAGE_RUNTIME });
    EXPECT_EQ(sections.output.find(".symtab"), std::string::npos) << "the runtime is not stripped";
}

} // namespace
} // namespace quillmark
