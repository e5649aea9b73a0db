#pragma once

#include "engine/records.hpp"
#include "platform/files/file_manager.hpp"
#include "platform/file_url.hpp"

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmark::platform {
class AppendOnlyFile;
class KnownDigests;
class ShutdownInhibitor;
}

namespace quillmark {

enum class ComparisonResult { ascending = -1, same = 0, descending = 1 };

// What the installation asks of its caller while it runs. All of them are
// called on the installing thread, one at a time. The last two may be empty.
struct InstallCallbacks {
    std::function<bool()> cancelled;
    std::function<void()> ensureNotRunning;
    std::function<void(std::string_view)> phase;
    std::function<void()> beforeCommit;
    std::function<void()> afterReplace;
};

// What an installation uses beyond the file system. Either may be left out:
// then nothing is recorded, or nothing holds off a shutdown.
struct InstallServices {
    // Where each installation's steps and outcome are appended.
    std::shared_ptr<const platform::AppendOnlyFile> record;
    // Holds off shutdown and suspend while the installed copy is replaced.
    std::shared_ptr<const platform::ShutdownInhibitor> inhibitor;
};

// The file-system side of the installer: the installation roots and every
// look at, and change to, the bundles in them. Holds no mutable state, so one
// engine may serve several threads.
class InstallerEngine {
public:
    explicit InstallerEngine(std::vector<platform::FileURL> roots);
    InstallerEngine(std::vector<platform::FileURL> roots, std::shared_ptr<const platform::FileManager> manager);
    InstallerEngine(std::vector<platform::FileURL> roots, std::shared_ptr<const platform::FileManager> manager,
        InstallServices services);

    const std::vector<platform::FileURL>& roots() const { return roots_; }
    const platform::FileManager& manager() const { return *manager_; }
    const InstallServices& services() const { return services_; }

    // Version ordering.
    static ComparisonResult compare(std::string_view a, std::string_view b);
    static ComparisonResult compareRelease(std::string_view a, std::string_view b);
    static InstallOperation operation(const InstalledIdentity& incoming, const std::optional<InstalledIdentity>& installed);

    // Bundle inspection.
    InstalledIdentity metadata(const platform::FileURL& bundle) const;
    bool isLink(const platform::FileURL& url) const;
    // "{device}|{inode}" and what tells the item from any later one there (see platform::HeldItem).
    std::string objectIdentity(const platform::FileURL& url) const;

    // The bundle inspected, its executable checked and its code seal verified.
    InstalledIdentity verifiedPayload(const platform::FileURL& bundle) const;
    // The same check, for the copies of one installation: a file that is
    // unchanged since `known` recorded its digest (from an earlier check, or
    // hashed while it was copied) is not read again.
    InstalledIdentity verifiedPayload(const platform::FileURL& bundle, platform::KnownDigests& known) const;

    // Installation roots.
    std::vector<InstallerLocation> locations() const;
    static bool permissionError(const std::exception& error);

    // Previous copies that interrupted installations kept in the roots, found
    // under each root's lock; a root whose lock another installer holds is
    // passed over, so that installer is never disturbed.
    std::vector<KeptCopy> keptCopies() const;
    // Moves a kept copy back to its root's empty destination, with the
    // checks of a commit, and removes what else its staging folder holds.
    void restoreKeptCopy(const KeptCopy& kept) const;
    // Removes a kept copy with its staging folder, while a copy is installed in its root.
    void removeKeptCopy(const KeptCopy& kept) const;

    // Replaces the application in one root as a single locked transaction.
    InstallerResult install(const InstalledIdentity& payload, const InstallerLocation& location,
        const InstallCallbacks& callbacks) const;
    // The same, with the digests made when the payload was loaded and
    // verified: a payload file unchanged since, on a volume that still
    // nothing can write, is not read again by the payload's check.
    InstallerResult install(const InstalledIdentity& payload, const InstallerLocation& location,
        const InstallCallbacks& callbacks, const platform::KnownDigests& payloadDigests) const;

private:
    InstalledIdentity verify(const platform::FileURL& bundle, platform::KnownDigests* known) const;

    std::vector<platform::FileURL> roots_;
    std::shared_ptr<const platform::FileManager> manager_;
    InstallServices services_;
};

} // namespace quillmark
