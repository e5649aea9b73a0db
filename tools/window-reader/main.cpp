// window-reader: follows an application's window over the accessibility bus,
// as a screen reader would, and pictures it from the display.
//
//   window-reader watch PID FOLDER
//
// Until process PID ends, every state of its window that differs from the
// one before is written to FOLDER/states.txt ("step-NN.png", a tab, the
// state on one line) with a screenshot of the whole display as
// FOLDER/step-NN.png, taken with ImageMagick's import.
#include "tools/window-reader/accessible_window.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

bool running(int pid)
{
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

bool screenshot(const std::string& path)
{
    pid_t child = ::fork();
    if (child == 0) {
        ::execlp("import", "import", "-window", "root", path.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    while (child > 0 && ::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return child > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int watch(int pid, const std::string& folder)
{
    std::string whyNot;
    auto reader = quillmark::windowreader::ApplicationReader::attach(pid, 60s, whyNot);
    if (!reader) {
        std::fprintf(stderr, "window-reader: %s.\n", whyNot.c_str());
        return 1;
    }
    std::string last;
    int step = 0;
    while (running(pid)) {
        auto snapshot = reader->snapshot();
        if (snapshot.nodes.empty())
            break;
        std::string state = snapshot.describe();
        if (state != last) {
            last = state;
            char name[32];
            std::snprintf(name, sizeof name, "step-%02d.png", ++step);
            if (!screenshot(folder + "/" + name))
                std::fprintf(stderr, "window-reader: the screenshot %s could not be taken.\n", name);
            std::ofstream(folder + "/states.txt", std::ios::app) << name << '\t' << state << '\n';
        }
        std::this_thread::sleep_for(30ms);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4 || std::string(argv[1]) != "watch") {
        std::fputs("usage: window-reader watch PID FOLDER\n", stderr);
        return 2;
    }
    return watch(std::stoi(argv[2]), argv[3]);
}
