// Times the strict seal check of a large bundle against sha256sum over the
// same files, in one run and with a warm cache, and reports the check's peak
// memory. Not part of the test suites: run it by hand (see README).

#include "bench/bundle_generator.hpp"
#include "bench/shell_command.hpp"
#include "platform/seal/bundle_tree.hpp"
#include "platform/seal/code_seal.hpp"
#include "platform/seal/code_signing.hpp"
#include "platform/seal/file_digests.hpp"

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
namespace platform = quillmark::platform;
using quillmark::bench::shellQuoted;

constexpr double ratioTarget = 0.15;
constexpr double peakMemoryTargetMiB = 32;
constexpr int rounds = 5;
constexpr std::uintmax_t spaceNeeded = 1300ull * 1024 * 1024;

struct ChildRun {
    int exitStatus = -1;
    double seconds = 0;
    double cpuSeconds = 0;
    double peakMemoryMiB = 0;
};

double secondsOf(const timeval& time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

// Runs a program and waits for it; the rusage of that one child gives its
// own peak resident memory, untouched by this process's.
ChildRun run(std::vector<std::string> arguments)
{
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    auto start = Clock::now();
    pid_t pid = -1;
    if (int error = ::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ))
        throw std::runtime_error("Could not start " + arguments[0] + ": " + std::strerror(error));
    int status = 0;
    rusage usage {};
    while (::wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR)
            throw std::runtime_error("Could not wait for " + arguments[0] + ": " + std::strerror(errno));
    }
    ChildRun result;
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.peakMemoryMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    result.cpuSeconds = secondsOf(usage.ru_utime) + secondsOf(usage.ru_stime);
    return result;
}

// The verifying child: exactly what the installer does for the seal.
int verifyOnly(const std::string& bundle)
{
    std::unique_ptr<platform::StaticCode> code;
    std::unique_ptr<platform::CodeRequirement> requirement;
    if (platform::createStaticCode(platform::FileURL(bundle, true), 0, code) != 0
        || platform::createRequirement("identifier \"app.quillmark.viewer\"", 0, requirement) != 0)
        return 3;
    auto status = platform::checkValidity(*code, 0x11, requirement.get());
    if (status != 0) {
        std::cerr << platform::copyErrorMessage(status, code.get()).value_or("Signature validation failed.") << '\n';
        return 1;
    }
    return 0;
}

// The verification's two long phases on their own, for a child: listing the
// tree ("--list-only"), or listing it and then hashing every file of it
// ("--hash-only"); the hashing alone is the difference of the two.
int phaseOnly(const std::string& phase, const std::string& bundle)
{
    int bundleFd = ::open(bundle.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (bundleFd < 0)
        return 3;
    auto items = platform::listBundleItems(bundleFd, bundle, {});
    if (phase == "--list-only")
        return 0;
    std::vector<platform::DigestTask> tasks;
    for (const auto& item : items) {
        if (item.kind == platform::BundleItemKind::file)
            tasks.push_back({ item.path, item.size });
    }
    bool allRead = true;
    platform::digestFiles(bundleFd, tasks, [&](std::size_t, const platform::FileDigest& digest) {
        allRead = allRead && digest.error == 0;
        return true;
    });
    return allRead ? 0 : 1;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Options {
    std::string base;
    bool keep = false;
    std::string existingBundle; // measure this sealed bundle instead of making one
};

void measure(const std::string& bundle, const std::string& self, int& exitStatus)
{
    const std::string hashAll = "find " + shellQuoted(bundle) + " -type f -print0 | xargs -0 sha256sum > /dev/null";
    // Warm the cache: every byte read once before anything is timed.
    run({ "/bin/sh", "-c", "find " + shellQuoted(bundle) + " -type f -print0 | xargs -0 cat > /dev/null" });

    // The contenders take turns, so that neither always meets the same
    // state of the machine; each is judged by its median.
    std::vector<double> ours, oursCpu, baseline, listing, hashing, hashingCpu;
    double peakMemoryMiB = 0;
    for (int round = 0; round < rounds; ++round) {
        auto verification = run({ self, "--verify-only", bundle });
        auto reference = run({ "/bin/sh", "-c", hashAll });
        auto listed = run({ self, "--list-only", bundle });
        auto hashed = run({ self, "--hash-only", bundle });
        if (verification.exitStatus != 0 || reference.exitStatus != 0 || listed.exitStatus != 0 || hashed.exitStatus != 0) {
            std::cerr << "seal_benchmark: a run failed (verification exit " << verification.exitStatus
                      << ", sha256sum exit " << reference.exitStatus << ", listing exit " << listed.exitStatus
                      << ", hashing exit " << hashed.exitStatus << ").\n";
            exitStatus = 1;
            return;
        }
        ours.push_back(verification.seconds);
        oursCpu.push_back(verification.cpuSeconds);
        baseline.push_back(reference.seconds);
        listing.push_back(listed.seconds);
        hashing.push_back(hashed.seconds);
        hashingCpu.push_back(hashed.cpuSeconds);
        peakMemoryMiB = std::max(peakMemoryMiB, verification.peakMemoryMiB);
    }
    double ratio = median(ours) / median(baseline);
    std::cout << std::fixed << std::setprecision(3) << "Medians of " << rounds << " alternating rounds\n"
              << "Seal verification: " << median(ours) << " s (CPU " << median(oursCpu) << " s)\n"
              << "  phases, each alone in a process of its own:\n"
              << "  listing the tree " << median(listing) << " s\n"
              << "  listing it, then hashing every file on every core " << median(hashing) << " s (CPU "
              << median(hashingCpu) << " s)\n"
              << "sha256sum:         " << median(baseline) << " s\n"
              << "Ratio:             " << ratio << " (target at most " << ratioTarget << ")\n"
              << "Peak memory:       " << std::setprecision(1) << peakMemoryMiB << " MiB (target under "
              << peakMemoryTargetMiB << " MiB)\n"
              << "Result:            "
              << (ratio <= ratioTarget && peakMemoryMiB < peakMemoryTargetMiB ? "within both targets" : "MISSED a target")
              << '\n';
}

int benchmark(const Options& options, const std::string& self)
{
    int exitStatus = 0;
    if (!options.existingBundle.empty()) {
        measure(options.existingBundle, self, exitStatus);
        return exitStatus;
    }
    struct statvfs volume {};
    if (::statvfs(options.base.c_str(), &volume) == 0
        && static_cast<std::uintmax_t>(volume.f_bavail) * volume.f_frsize < spaceNeeded) {
        std::cerr << "seal_benchmark: " << options.base << " has less than 1.3 GiB free; choose another folder with --dir.\n";
        return 2;
    }
    std::string pattern = options.base + "/quillmark-seal-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::cerr << "seal_benchmark: cannot create a folder in " << options.base << ": " << std::strerror(errno) << ".\n";
        return 2;
    }
    const fs::path folder = pattern;
    const std::string bundle = (folder / "Quillmark.app").string();
    try {
        std::cout << "Generating the bundle in " << bundle << " ...\n" << std::flush;
        auto generated = quillmark::bench::generateBundle(bundle);
        std::cout << "  " << generated.files << " files, " << generated.folders << " folders, " << generated.links
                  << " links, " << std::fixed << std::setprecision(1) << generated.bytes / (1024.0 * 1024.0) << " MiB\n";

        auto sealStart = Clock::now();
        platform::signBundle(platform::FileURL(bundle, true), platform::generateSigningKey(), "app.quillmark.viewer");
        std::cout << "Sealed in " << std::setprecision(2) << std::chrono::duration<double>(Clock::now() - sealStart).count()
                  << " s\n";

        measure(bundle, self, exitStatus);
    } catch (const std::exception& error) {
        std::cerr << "seal_benchmark: " << error.what() << '\n';
        exitStatus = 1;
    }
    if (options.keep) {
        std::cout << "Kept " << folder.string() << '\n';
    } else {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    return exitStatus;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() == 2 && arguments[0] == "--verify-only")
        return verifyOnly(arguments[1]);
    if (arguments.size() == 2 && (arguments[0] == "--list-only" || arguments[0] == "--hash-only"))
        return phaseOnly(arguments[0], arguments[1]);

    Options options;
    const char* temporary = std::getenv("TMPDIR");
    options.base = temporary != nullptr && temporary[0] == '/' ? temporary : "/tmp";
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--dir" && i + 1 < arguments.size()) {
            options.base = arguments[++i];
        } else if (arguments[i] == "--bundle" && i + 1 < arguments.size()) {
            options.existingBundle = fs::absolute(arguments[++i]).string();
        } else if (arguments[i] == "--keep") {
            options.keep = true;
        } else {
            std::cerr << "usage: seal_benchmark [--dir FOLDER] [--keep] | seal_benchmark --bundle SEALED.app\n"
                         "  Generates a 1 GiB bundle in FOLDER (default $TMPDIR or /tmp), seals it, and times\n"
                         "  the seal check against sha256sum over the same files. The bundle is removed\n"
                         "  afterwards unless --keep is given. With --bundle, only the timing is done, on a\n"
                         "  bundle kept from an earlier run.\n";
            return 2;
        }
    }
    return benchmark(options, fs::canonical("/proc/self/exe").string());
}
