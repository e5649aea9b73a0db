// Times the installation of a generated 1 GiB bundle against copying the
// same tree with cp -a, making it durable with sync -f and reading every
// copied file back through sha256sum: the work a careful person would do
// by hand. Everything runs in one invocation, so the numbers share one
// machine state.
//
// Usage: install_benchmark [--fresh-volume] [work-folder]
//
// With --fresh-volume (root only) every copy and installation goes to a new
// ext4 volume made for the run inside the work folder; otherwise they go to
// the work folder's own file system.
#include "bench/bundle_generator.hpp"
#include "bench/fresh_volume.hpp"
#include "bench/shell_command.hpp"
#include "bench/timed_file_manager.hpp"
#include "engine/installer_engine.hpp"
#include "platform/seal/code_signing.hpp"
#include "platform/plist/property_list.hpp"
#include "platform/files/system_file_manager.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace quillmark;
using bench::runShellCommand;
using bench::shellQuoted;
namespace fs = std::filesystem;

struct Measurement {
    double seconds = 0;
    long peakKiB = 0;
    bench::InstallationPhases phases;
};

// Runs `work` in a child process and waits for it.
int runInChild(const std::function<void()>& work, rusage& usage)
{
    pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        try {
            work();
        } catch (const std::exception& error) {
            std::cerr << "failed: " << error.what() << "\n";
            ::_exit(1);
        }
        ::_exit(0);
    }
    int status = 0;
    if (::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// On a virtual machine that hands free memory back to its host, the first
// touch of every page the host took back is a fault on the host: a copy of
// a gigabyte then spends seconds fetching fresh pages, more or fewer from
// one run to the next. Touching and freeing a few gigabytes just before a
// run gives every contender memory that is already there, as on a machine
// of its own.
void warmFreeMemory()
{
    // Never so much that the machine would have to evict the warm cache.
    auto available
        = static_cast<std::size_t>(::sysconf(_SC_AVPHYS_PAGES)) * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t bytes = std::min(std::size_t(3) << 30, available / 2);
    rusage usage {};
    runInChild(
        [bytes] {
            std::vector<char> memory(bytes, 1);
            // Keeps the compiler from leaving the pages untouched.
            if (memory[bytes / 2] != 1)
                std::abort();
        },
        usage);
}

// Runs `work` in a child process, so that its peak memory is its own.
Measurement measureInChild(const std::function<void()>& work)
{
    warmFreeMemory();
    auto start = std::chrono::steady_clock::now();
    rusage usage {};
    if (runInChild(work, usage) != 0)
        throw std::runtime_error("the measured run failed");
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return { seconds, usage.ru_maxrss, {} };
}

// The generated bundle's property list is filler; the installation reads
// the real keys of a viewer bundle.
void writeViewerInfo(const std::string& bundle)
{
    using platform::PropertyListValue;
    auto info = PropertyListValue::makeDictionary({
        { "CFBundleIdentifier", PropertyListValue::makeString("app.quillmark.viewer") },
        { "CFBundlePackageType", PropertyListValue::makeString("APPL") },
        { "CFBundleExecutable", PropertyListValue::makeString("Quillmark") },
        { "CFBundleShortVersionString", PropertyListValue::makeString("2.4") },
        { "CFBundleVersion", PropertyListValue::makeString("241") },
        { "QuillmarkReleaseVersion", PropertyListValue::makeString("2.4.0") },
    });
    std::ofstream(bundle + "/Contents/Info.plist", std::ios::binary | std::ios::trunc) << platform::xmlPropertyList(info);
}

// One installation, in a child process, cut into its phases; without
// syncs to show what durability costs. The child hands its phases over in
// `phasesFile`.
Measurement install(const std::string& root, const InstalledIdentity& payload, bool syncs, const std::string& phasesFile)
{
    auto measurement = measureInChild([&] {
        auto manager = std::make_shared<bench::TimedFileManager>(syncs);
        platform::FileURL rootURL(root, true);
        InstallerEngine engine({ rootURL }, manager);
        auto location = engine.locations().at(0);
        InstallCallbacks callbacks { [] { return false; }, [] {}, [](std::string_view) {}, {}, {} };
        auto begin = std::chrono::steady_clock::now();
        auto result = engine.install(payload, location, callbacks);
        auto phases = bench::phasesOf(manager->events(), begin, std::chrono::steady_clock::now());
        if (result.warning)
            throw std::runtime_error(*result.warning);
        std::ofstream file(phasesFile, std::ios::trunc);
        for (double seconds : phases.seconds)
            file << seconds << '\n';
    });
    std::ifstream file(phasesFile);
    for (double& seconds : measurement.phases.seconds)
        file >> seconds;
    return measurement;
}

constexpr int rounds = 3;

// ext4 without a journal passes over the inodes freed in the last minute
// whenever it creates a file, so whoever follows a removal of thousands of
// files creates its own several times more slowly. On the work folder's
// own file system every contender therefore starts a minute after the last
// removal; a fresh volume has a journal and has seen no removal.
void settleAfterRemovals()
{
    std::cout << "Waiting a minute after the removals...\n" << std::flush;
    std::this_thread::sleep_for(std::chrono::seconds(61));
}

// The runs of one contender.
class Series {
public:
    void add(Measurement measurement) { runs_.push_back(measurement); }

    double median() const
    {
        std::vector<double> seconds;
        for (const auto& run : runs_)
            seconds.push_back(run.seconds);
        std::sort(seconds.begin(), seconds.end());
        return seconds[seconds.size() / 2];
    }

    long peakKiB() const
    {
        long peak = 0;
        for (const auto& run : runs_)
            peak = std::max(peak, run.peakKiB);
        return peak;
    }

    // The median of each phase over the runs.
    bench::InstallationPhases phases() const
    {
        bench::InstallationPhases medians;
        for (std::size_t phase = 0; phase < std::size(medians.seconds); ++phase) {
            std::vector<double> seconds;
            for (const auto& run : runs_)
                seconds.push_back(run.phases.seconds[phase]);
            std::sort(seconds.begin(), seconds.end());
            medians.seconds[phase] = seconds[seconds.size() / 2];
        }
        return medians;
    }

    std::string all() const
    {
        std::string text;
        char number[32];
        for (const auto& run : runs_) {
            std::snprintf(number, sizeof number, "%s%.2f", text.empty() ? "" : " ", run.seconds);
            text += number;
        }
        return text;
    }

private:
    std::vector<Measurement> runs_;
};

void print(const char* name, const Series& series, double baseline)
{
    std::printf("%-34s %8.2f s   %5.2f x baseline   peak %6.1f MiB   (runs: %s)\n", name, series.median(),
        series.median() / baseline, series.peakKiB() / 1024.0, series.all().c_str());
}

void printPhases(const char* name, const Series& series)
{
    auto phases = series.phases();
    std::printf("%s, by phase (medians):", name);
    for (std::size_t phase = 0; phase < std::size(phases.seconds); ++phase)
        std::printf("%s %s %.2f s", phase == 0 ? "" : ";", bench::InstallationPhases::names[phase], phases.seconds[phase]);
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv)
{
    try {
        bool freshVolume = false;
        std::string work;
        for (int i = 1; i < argc; ++i) {
            std::string argument = argv[i];
            if (argument == "--fresh-volume") {
                freshVolume = true;
            } else if (work.empty() && !argument.starts_with("-")) {
                work = argument;
            } else {
                std::cerr << "usage: install_benchmark [--fresh-volume] [work-folder]\n";
                return 2;
            }
        }
        if (work.empty()) {
            const char* temporary = std::getenv("TMPDIR");
            work = std::string(temporary != nullptr ? temporary : "/var/tmp") + "/quillmark-install-bench";
        }
        fs::remove_all(work);
        fs::create_directories(work + "/Volume");
        std::string source = work + "/Volume/Quillmark.app";

        std::cout << "Generating and sealing the bundle in " << work << "...\n";
        auto summary = bench::generateBundle(source);
        writeViewerInfo(source);
        platform::signBundle(platform::FileURL(source, true), platform::generateSigningKey(), "app.quillmark.viewer");
        std::printf("%llu files, %llu links, %llu folders, %.1f MiB\n", static_cast<unsigned long long>(summary.files),
            static_cast<unsigned long long>(summary.links), static_cast<unsigned long long>(summary.folders),
            summary.bytes / 1048576.0);
        // What the installer's controller verified when it loaded the payload.
        InstalledIdentity payload { platform::FileURL(source, true), "2.4", "241", "2.4.0" };
        // Sealing read every file; read them once more so that every run starts warm.
        runShellCommand("find " + shellQuoted(source) + " -type f -exec cat {} + > /dev/null");
        runShellCommand("sync");

        const std::string phases = work + "/phases";
        const std::string targets = work + "/Targets";
        const std::string copy = targets + "/Copy/Quillmark.app";
        const std::string root = targets + "/Applications";
        const std::string otherRoot = targets + "/OtherApplications";

        // A virtual disk's write speed drifts by seconds over a minute, so the
        // contenders take turns, round after round, and each is judged by its
        // median: no contender always gets the fresh disk or the tired one.
        Series baseline, newInstall, newInstallWithoutSyncs, update, updateWithoutSyncs;
        for (int round = 0; round < rounds; ++round) {
            std::optional<bench::FreshVolume> volume;
            if (freshVolume)
                volume.emplace(work + "/volume.img", targets, 16);
            else
                settleAfterRemovals();
            fs::create_directories(targets + "/Copy");

            baseline.add(measureInChild([&] {
                runShellCommand("cp -a " + shellQuoted(source) + " " + shellQuoted(copy) + " && sync -f " + shellQuoted(copy)
                    + " && find " + shellQuoted(copy) + " -type f -print0 | xargs -0 sha256sum > /dev/null");
            }));
            runShellCommand("sync");
            newInstall.add(install(root, payload, true, phases));
            runShellCommand("sync");
            newInstallWithoutSyncs.add(install(otherRoot, payload, false, phases));
            runShellCommand("sync");
            // Each update removes the copy it replaced.
            update.add(install(root, payload, true, phases));
            runShellCommand("sync");
            if (!freshVolume)
                settleAfterRemovals();
            updateWithoutSyncs.add(install(otherRoot, payload, false, phases));

            if (volume) {
                volume.reset();
                fs::remove(work + "/volume.img");
            } else {
                fs::remove_all(targets);
            }
            runShellCommand("sync");
        }

        double base = baseline.median();
        std::printf("\nmedians of %d alternating rounds\n", rounds);
        std::printf("%-34s %8.2f s                                         (runs: %s)\n",
            "baseline: cp -a, sync -f, sha256sum", base, baseline.all().c_str());
        print("new installation", newInstall, base);
        print("new installation without syncs", newInstallWithoutSyncs, base);
        print("update", update, base);
        print("update without syncs", updateWithoutSyncs, base);
        printPhases("new installation", newInstall);
        printPhases("update", update);
        std::printf("durability (the syncs) costs %.2f s of the new installation (%.0f%%)\n",
            newInstall.median() - newInstallWithoutSyncs.median(),
            100.0 * (newInstall.median() - newInstallWithoutSyncs.median()) / newInstall.median());
        std::printf("durability (the syncs) costs %.2f s of the update (%.0f%%)\n",
            update.median() - updateWithoutSyncs.median(),
            100.0 * (update.median() - updateWithoutSyncs.median()) / update.median());
        std::printf("update at most 0.6 x the baseline: %s; peak memory under 32 MiB: %s\n",
            update.median() <= 0.6 * base ? "yes" : "NO",
            std::max(newInstall.peakKiB(), update.peakKiB()) < 32 * 1024 ? "yes" : "NO");
        fs::remove_all(work);
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "install_benchmark: " << error.what() << "\n";
        return 1;
    }
}
