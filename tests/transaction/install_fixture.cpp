#include "tests/transaction/install_fixture.hpp"

#include "tests/support/bundle_builder.hpp"
#include "tests/support/sealing.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <fcntl.h>
#include <sys/stat.h>

namespace quillmark::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view foreignData = "another program's data\n";

ino_t inodeNumberOf(const std::string& path)
{
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0)
        throw std::runtime_error("no item at " + path);
    return status.st_ino;
}

} // namespace

const char* nameOf(Volume volume)
{
    switch (volume) {
    case Volume::ownFolder:
        return "OwnFolder";
    case Volume::ext4:
        return "Ext4";
    case Volume::wholeSecondExt4:
        return "WholeSecondExt4";
    case Volume::tmpfs:
        return "Tmpfs";
    }
    return "?";
}

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

bool InstallFixture::placeRootOn(Volume volume, std::string& whyNot)
{
    switch (volume) {
    case Volume::ownFolder:
        return true;
    case Volume::ext4:
    case Volume::wholeSecondExt4:
        // 64 MiB in blocks of 4 KiB is a single block group, so every new
        // item is given the lowest free inode number: a number freed a
        // moment ago is handed out again at once.
        rootVolume = ScopedMount::freshExt4(
            root.path(), folder.path("root.ext4"), 64 << 20, whyNot, volume == Volume::wholeSecondExt4 ? 128 : 256);
        if (rootVolume)
            fs::remove(root.path() + "/lost+found");
        break;
    case Volume::tmpfs:
        rootVolume = ScopedMount::sizeLimitedTmpfs(root.path(), 64 << 20, whyNot);
        break;
    }
    return rootVolume != nullptr;
}

void InstallFixture::startOver()
{
    for (const auto& entry : fs::directory_iterator(root.path()))
        fs::remove_all(entry.path());
    files = std::make_shared<FaultyFileManager>();
    engine = std::make_unique<InstallerEngine>(std::vector { root }, files);
    cancelOnCall = 0;
    cancelRequested = false;
    onEnsureNotRunning = nullptr;
    events.clear();
    callbacks.beforeCommit = nullptr;
    callbacks.afterReplace = nullptr;
    lockHolder.reset();
    mapping.reset();
    previousIdentity.clear();
    foreignIdentity.clear();
    result.reset();
    error = nullptr;
}

bool InstallFixture::runRounds(Volume volume, int rounds, const std::function<void()>& once, std::string& whyNot)
{
    if (!placeRootOn(volume, whyNot))
        return false;
    for (int round = 1; round <= rounds && !HasFailure(); ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        if (round > 1)
            startOver();
        once();
    }
    expectInodeReuseTried(volume);
    return true;
}

void InstallFixture::deleteAndRecreate(const std::string& path, const std::function<void()>& replace)
{
    std::vector<ino_t> freed { inodeNumberOf(path) };
    for (const auto& entry : fs::recursive_directory_iterator(path))
        freed.push_back(inodeNumberOf(entry.path().string()));
    fs::remove_all(path);
    replace();

    auto taken = inodeNumberOf(path);
    ++reuse.rounds;
    if (taken == freed.front())
        ++reuse.deletedItemsNumber;
    else if (std::find(freed.begin(), freed.end(), taken) != freed.end())
        ++reuse.numberFreedWithIt;
}

void InstallFixture::makeForeignFolder(const std::string& path)
{
    makeFolder(path);
    writeFile(path + "/data.txt", foreignData);
    foreignIdentity = identityOf(path);
}

bool InstallFixture::foreignFolderIsAt(const std::string& path) const
{
    std::error_code missing;
    return identityOf(path) == foreignIdentity && fs::is_regular_file(path + "/data.txt", missing)
        && readFile(path + "/data.txt") == foreignData;
}

void InstallFixture::expectInodeReuseTried(Volume volume) const
{
    if (reuse.rounds == 0)
        return;
    EXPECT_EQ(reuse.deletedItemsNumber, 0) << "a new item took the number of an item the installation held";
    std::cout << nameOf(volume) << ": " << reuse.rounds << " deletions and re-creations; the new item took a number "
              << "freed with the deleted one " << reuse.numberFreedWithIt << " times, the deleted item's own "
              << reuse.deletedItemsNumber << " times\n";
    if (reuse.numberFreedWithIt + reuse.deletedItemsNumber > 0)
        return;
    if (volume == Volume::ext4 || volume == Volume::wholeSecondExt4) {
        ADD_FAILURE() << "ext4 never handed out a freed inode number, so these rounds proved nothing";
        return;
    }
    GTEST_SKIP() << nameOf(volume) << " never handed out a freed inode number in " << reuse.rounds
                 << " rounds, so they could not show that a reused number is told apart";
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

void InstallFixture::alterKeepingSizeAndTimes(const platform::FileURL& bundle) const
{
    const auto file = bundle.path() + "/Contents/Resources/About.txt";
    struct stat before {};
    if (::stat(file.c_str(), &before) != 0)
        throw std::runtime_error("no file at " + file);
    auto contents = readFile(file);
    contents[0] = contents[0] == 'X' ? 'Y' : 'X';
    std::fstream(file, std::ios::in | std::ios::out | std::ios::binary) << contents;
    const struct timespec times[2] = { before.st_atim, before.st_mtim };
    if (::utimensat(AT_FDCWD, file.c_str(), times, 0) != 0)
        throw std::runtime_error("could not set the times of " + file);
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
