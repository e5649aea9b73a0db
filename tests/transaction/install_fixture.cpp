#include "tests/transaction/install_fixture.hpp"

#include "tests/support/bundle_builder.hpp"
#include "tests/support/sealing.hpp"

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace quillmark::testing {

InstallFixture::InstallFixture()
    : root(folder.path("Applications"), true)
    , destination(folder.path("Applications/Quillmark.app"), true)
    , engine(std::make_unique<InstallerEngine>(std::vector { root }, files))
    , payload(engine->verifiedPayload(writeBundle(folder.path("Volume/Quillmark.app"))))
{
    makeFolder(root.path());
    callbacks.cancelled = [this] {
        int call = static_cast<int>(std::count(events.begin(), events.end(), "cancelled")) + 1;
        events.push_back("cancelled");
        return call == cancelOnCall || cancelRequested;
    };
    callbacks.ensureNotRunning = [this] {
        int call = static_cast<int>(std::count(events.begin(), events.end(), "ensureNotRunning")) + 1;
        events.push_back("ensureNotRunning");
        if (onEnsureNotRunning)
            onEnsureNotRunning(call);
    };
    callbacks.phase = [this](std::string_view name) { events.push_back("phase " + std::string(name)); };
}

platform::FileURL InstallFixture::writeBundle(const std::string& path, const std::string& build) const
{
    std::string version = build == "230" ? "2.3" : "2.4";
    auto bundle = BundleBuilder().version(version).build(build).releaseVersion(version + ".0").write(path);
    sealBundle(bundle);
    return bundle;
}

void InstallFixture::installPrevious()
{
    writeBundle(destination.path(), "230");
    previousIdentity = identityOf(destination.path());
}

void InstallFixture::tamperWith(const platform::FileURL& bundle) const
{
    std::ofstream(bundle.path() + "/Contents/Resources/About.txt", std::ios::app) << "altered\n";
}

InstallerLocation InstallFixture::reviewedLocation() const
{
    auto locations = engine->locations();
    return locations.at(0);
}

void InstallFixture::install(const InstallerLocation& location)
{
    try {
        result = engine->install(payload, location, callbacks);
    } catch (...) {
        error = std::current_exception();
    }
}

std::vector<std::string> InstallFixture::stagingFolders() const
{
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(root.path(), ignored)) {
        auto name = entry.path().filename().string();
        if (name.starts_with(".Quillmark-install-"))
            names.push_back(name);
    }
    return names;
}

std::string InstallFixture::keptStaging() const
{
    auto names = stagingFolders();
    EXPECT_EQ(names.size(), 1u) << "expected exactly one staging folder";
    return names.empty() ? std::string() : root.path() + "/" + names.front();
}

std::string InstallFixture::identityOf(const std::string& path)
{
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0)
        return "";
    return std::to_string(status.st_dev) + "|" + std::to_string(status.st_ino);
}

std::string InstallFixture::buildAt(const std::string& path) const
{
    try {
        return engine->metadata(platform::FileURL(path, true)).build;
    } catch (const std::exception&) {
        return "";
    }
}

void InstallFixture::expectLockFileFree() const
{
    std::string lock = root.path() + "/.Quillmark.install.lock";
    ASSERT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(lock))) << "the lock file stays";
    EXPECT_TRUE(anotherProcessCanLock(lock)) << "the lock is released";
}

std::string InstallFixture::errorText() const
{
    if (!error)
        return "";
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& caught) {
        return caught.what();
    } catch (...) {
        return "(not a std::exception)";
    }
}

FaultyFileManager::PathMatch inStaging(const std::string& name)
{
    return [name](const std::string& path) {
        auto slash = path.rfind('/');
        if (slash == std::string::npos || path.substr(slash + 1) != name)
            return false;
        auto parent = path.substr(0, slash);
        return parent.substr(parent.rfind('/') + 1).starts_with(".Quillmark-install-");
    };
}

} // namespace quillmark::testing
