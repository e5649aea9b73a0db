#pragma once

#include "engine/installer_engine.hpp"
#include "tests/support/faulty_file_manager.hpp"
#include "tests/support/lock_probe.hpp"
#include "tests/support/temporary_folder.hpp"

#include <exception>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillmark::testing {

// A real installation root in a temporary folder, a sealed payload beside
// it, an engine whose file manager can be told to fail or to change the disk
// at a chosen call, and callbacks that record what the installation asked.
class InstallFixture : public ::testing::Test {
public:
    InstallFixture();

    // Sealed viewer bundles; versions are the build's, release and version follow.
    platform::FileURL writeBundle(const std::string& path, const std::string& build = "241") const;
    // A sealed older copy (build 230) at the destination.
    void installPrevious();
    void tamperWith(const platform::FileURL& bundle) const;

    // The location as locations() reports it now: what the user reviewed.
    InstallerLocation reviewedLocation() const;

    // Runs the installation with `callbacks`; the outcome lands in `result` or `error`.
    void install(const InstallerLocation& location);
    void install() { install(reviewedLocation()); }

    // Names in the root that begin with the staging prefix.
    std::vector<std::string> stagingFolders() const;
    // The one staging folder that stayed (fails the test when there is not exactly one).
    std::string keptStaging() const;
    std::string backupPath() const { return keptStaging() + "/Previous Quillmark.app"; }
    // "device|inode" of the item itself, or "" when nothing is there.
    static std::string identityOf(const std::string& path);
    // The build of the bundle at `path`, or "" when it is not a valid viewer bundle.
    std::string buildAt(const std::string& path) const;

    void expectLockFileFree() const;

    // The text the user would read for the error that ended the installation.
    std::string errorText() const;

    TemporaryFolder folder;
    std::shared_ptr<FaultyFileManager> files = std::make_shared<FaultyFileManager>();
    platform::FileURL root;
    platform::FileURL destination;
    std::unique_ptr<InstallerEngine> engine;
    InstalledIdentity payload;

    // Callback behaviour and what they saw.
    int cancelOnCall = 0; // the n-th call of cancelled() answers true
    bool cancelRequested = false; // every later call answers true
    std::function<void(int call)> onEnsureNotRunning;
    std::vector<std::string> events;
    InstallCallbacks callbacks;
    std::unique_ptr<LockHoldingProcess> lockHolder;
    std::string previousIdentity;
    std::string foreignIdentity;

    std::optional<InstallerResult> result;
    std::exception_ptr error;
};

// A match for the call on the item `name` directly inside a staging folder.
FaultyFileManager::PathMatch inStaging(const std::string& name);

} // namespace quillmark::testing
