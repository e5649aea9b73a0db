// window-reader: follows an application's window over the accessibility bus,
// as a screen reader would, and pictures it from the display.
//
//   window-reader watch PID FOLDER
//
// Until process PID ends, every state of its window that differs from the
// one before, and that two readings in a row agree on, is written to
// FOLDER/states.txt ("step-NN.png", a tab, the state on one line) with a
// screenshot of the whole display taken between those readings as
// FOLDER/step-NN.png (ImageMagick's import). A window being torn down is
// not read. Every text the status line announces is written there too, in
// order ("announcement", a tab, the text), so a phase too short for two
// readings is still listed.
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
    std::ofstream states(folder + "/states.txt", std::ios::app);
    std::size_t announced = 0;
    auto writeAnnouncements = [&] {
        auto texts = reader->announcements();
        for (; announced < texts.size(); ++announced)
            states << "announcement\t" << quillmark::windowreader::oneLine(texts[announced]) << '\n' << std::flush;
    };
    std::string last;
    int step = 0;
    while (running(pid)) {
        auto before = reader->snapshot();
        writeAnnouncements();
        if (before.nodes.empty())
            break;
        std::string state = before.describe();
        if (before.isTornDown() || state == last) {
            std::this_thread::sleep_for(30ms);
            continue;
        }
        // The picture is kept with the state only when a second reading,
        // after the picture, finds the same state: the picture then shows it,
        // and the state was not read half before and half after a change.
        char name[32];
        std::snprintf(name, sizeof name, "step-%02d.png", step + 1);
        const std::string picture = folder + "/" + name;
        const std::string unconfirmed = folder + "/unconfirmed.png";
        bool pictured = screenshot(unconfirmed);
        auto after = reader->snapshot();
        writeAnnouncements();
        if (after.isTornDown() || after.describe() != state) {
            std::remove(unconfirmed.c_str());
            continue;
        }
        if (!pictured || std::rename(unconfirmed.c_str(), picture.c_str()) != 0)
            std::fprintf(stderr, "window-reader: the screenshot %s could not be taken.\n", name);
        ++step;
        last = state;
        states << name << '\t' << state << '\n' << std::flush;
    }
    writeAnnouncements();
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
