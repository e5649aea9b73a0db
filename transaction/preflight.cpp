#include "transaction/install_transaction.hpp"

#include "transaction/install_messages.hpp"

#include <algorithm>

namespace quillmark::transaction {
namespace {

[[noreturn]] void refuse(std::string_view message)
{
    throw InstallerFailure(std::string(message));
}

bool isInside(const std::string& path, const std::string& folder)
{
    // The "/" keeps a sibling whose name merely begins with the folder's name out.
    return path.starts_with(folder + "/");
}

} // namespace

void InstallTransaction::checkNotCancelled() const
{
    if (cancelled())
        throw CancellationError();
}

void InstallTransaction::checkLocationIsSafe() const
{
    const auto& roots = engine_.roots();
    bool knownRoot = std::find(roots.begin(), roots.end(), root_) != roots.end();
    if (!knownRoot || location_.conflict || engine_.isLink(root_)
        || engine_.isLink(root_.appendingDirectory("Quillmark.app")))
        refuse(message::unsafeLocation);
}

void InstallTransaction::checkPayloadUnchanged() const
{
    std::optional<InstalledIdentity> verified;
    if (payloadDigests_) {
        // A copy: the load's digests stay as they were, and the copy asks
        // afresh whether each volume can still not be written.
        platform::KnownDigests digests(*payloadDigests_);
        verified = engine_.verifiedPayload(payload_.url, digests);
    } else {
        verified = engine_.verifiedPayload(payload_.url);
    }
    if (!sameVersions(*verified, payload_))
        refuse(message::payloadChanged);
}

void InstallTransaction::checkSourceAndDestinationAreSeparate()
{
    source_ = payload_.url.standardized().resolvingSymlinks();
    // Paths, not URLs, are compared: the same folder is the same place
    // whether or not a URL was marked as a folder.
    const auto& source = source_->path();
    const auto& destination = destination_.path();
    if (source == destination || isInside(source, destination) || isInside(destination, source))
        refuse(message::notSeparate);
}

void InstallTransaction::prepareRoot() const
{
    manager_.createDirectory(root_, platform::MissingParents::create);
    if (engine_.isLink(root_) || root_.resolvingSymlinks().path() != root_.path())
        refuse(message::linkOnRootPath);
}

void InstallTransaction::lockRoot()
{
    lock_.emplace(platform::LockFile::open(lockFile_));
    try {
        lock_->lockExclusively();
    } catch (const std::exception&) {
        // Whatever flock said, another installer may be at work here; the
        // user needs to wait, not to read an errno.
        lock_.reset();
        refuse(message::lockHeld);
    }
}

void InstallTransaction::recordDestination()
{
    hadPrevious_ = manager_.fileExists(destination_);
    if (!hadPrevious_) {
        if (location_.existing)
            refuse(message::previousRemoved);
        return;
    }
    previousObject_.emplace(manager_.holdItem(destination_));
    auto installed = engine_.metadata(destination_);
    if (!location_.existing || !sameVersions(*location_.existing, installed))
        refuse(message::installedVersionChanged);
}

} // namespace quillmark::transaction
