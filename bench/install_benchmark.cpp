// Times the installation of a generated 1 GiB bundle against copying the
// same tree with cp -a, making it durable with sync -f and reading every
// copied file back through sha256sum: the work a careful person would do
// by hand. Everything runs in one invocation, so the numbers share one
// machine state. Usage: install_benchmark [work-folder]
#include "bench/bundle_generator.hpp"
#include "engine/installer_engine.hpp"
#include "platform/code_signing.hpp"
#include "platform/property_list.hpp"
#include "platform/system_file_manager.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace quillmark;
namespace fs = std::filesystem;

struct Measurement {
    double seconds = 0;
    long peakKiB = 0;
};

// Runs `work` in a child process, so that its peak memory is its own.
Measurement measureInChild(const std::function<void()>& work)
{
    auto start = std::chrono::steady_clock::now();
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
    rusage usage {};
    if (::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("the measured run failed");
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return { seconds, usage.ru_maxrss };
}

void run(const std::string& command)
{
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("command failed: " + command);
}

std::string shellQuoted(const std::string& path)
{
    return "'" + path + "'";
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

// The file manager without its syncs, to show what durability costs.
class FileManagerWithoutSyncs : public platform::SystemFileManager {
public:
    void synchronize(const platform::FileURL&, platform::SyncScope) const override { }
};

Measurement install(const std::string& root, const InstalledIdentity& payload,
    std::shared_ptr<const platform::FileManager> manager)
{
    return measureInChild([&] {
        platform::FileURL rootURL(root, true);
        InstallerEngine engine({ rootURL }, manager);
        auto location = engine.locations().at(0);
        InstallCallbacks callbacks { [] { return false; }, [] {}, [](std::string_view) {}, {}, {} };
        auto result = engine.install(payload, location, callbacks);
        if (result.warning)
            throw std::runtime_error(*result.warning);
    });
}

void print(const char* name, const Measurement& measurement, double baseline)
{
    std::printf("%-34s %8.2f s   %5.2f x baseline   peak %6.1f MiB\n", name, measurement.seconds,
        measurement.seconds / baseline, measurement.peakKiB / 1024.0);
}

} // namespace

int main(int argc, char** argv)
{
    try {
        const char* temporary = std::getenv("TMPDIR");
        std::string work = argc > 1 ? argv[1]
                                    : std::string(temporary != nullptr ? temporary : "/var/tmp") + "/quillmark-install-bench";
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
        run("find " + shellQuoted(source) + " -type f -exec cat {} + > /dev/null");
        run("sync");

        std::string copy = work + "/Copy/Quillmark.app";
        fs::create_directories(work + "/Copy");
        auto baseline = measureInChild([&] {
            run("cp -a " + shellQuoted(source) + " " + shellQuoted(copy) + " && sync -f " + shellQuoted(copy) + " && find "
                + shellQuoted(copy) + " -type f -print0 | xargs -0 sha256sum > /dev/null");
        });
        fs::remove_all(work + "/Copy");
        run("sync");

        auto system = platform::systemFileManager();
        auto withoutSyncs = std::make_shared<FileManagerWithoutSyncs>();
        std::string root = work + "/Applications";
        auto newInstall = install(root, payload, system);
        run("sync");
        std::string otherRoot = work + "/OtherApplications";
        auto newInstallWithoutSyncs = install(otherRoot, payload, withoutSyncs);
        fs::remove_all(otherRoot);
        run("sync");
        auto update = install(root, payload, system);
        run("sync");
        auto updateWithoutSyncs = install(root, payload, withoutSyncs);
        run("sync");

        std::printf("\n%-34s %8.2f s\n", "baseline: cp -a, sync -f, sha256sum", baseline.seconds);
        print("new installation", newInstall, baseline.seconds);
        print("new installation without syncs", newInstallWithoutSyncs, baseline.seconds);
        print("update", update, baseline.seconds);
        print("update without syncs", updateWithoutSyncs, baseline.seconds);
        std::printf("durability (the syncs) costs %.2f s of the new installation (%.0f%%)\n",
            newInstall.seconds - newInstallWithoutSyncs.seconds,
            100.0 * (newInstall.seconds - newInstallWithoutSyncs.seconds) / newInstall.seconds);
        std::printf("durability (the syncs) costs %.2f s of the update (%.0f%%)\n",
            update.seconds - updateWithoutSyncs.seconds,
            100.0 * (update.seconds - updateWithoutSyncs.seconds) / update.seconds);
        std::printf("update within the baseline: %s; peak memory under 64 MiB: %s\n",
            update.seconds <= baseline.seconds ? "yes" : "NO",
            std::max(newInstall.peakKiB, update.peakKiB) < 64 * 1024 ? "yes" : "NO");
        fs::remove_all(work);
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "install_benchmark: " << error.what() << "\n";
        return 1;
    }
}
