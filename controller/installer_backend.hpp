#pragma once

#include "engine/installer_engine.hpp"

#include <memory>
#include <vector>

namespace quillmark {

// The engine operations the controller calls. The real one is the
// InstallerEngine; tests hand the controller one whose outcomes and timing
// they script, so that every flow and every race can be played out.
class InstallerBackend {
public:
    virtual ~InstallerBackend() = default;
    virtual InstalledIdentity verifiedPayload(const platform::FileURL& bundle) const = 0;
    virtual std::vector<InstallerLocation> locations() const = 0;
    virtual InstallerResult install(const InstalledIdentity& payload, const InstallerLocation& location,
        const InstallCallbacks& callbacks) const = 0;

    // The same two, the first recording the payload's digests in `digests`
    // and the second taking them back for the payload's check. An engine
    // that keeps no digests does without them.
    virtual InstalledIdentity verifiedPayload(const platform::FileURL& bundle, platform::KnownDigests& digests) const
    {
        (void)digests;
        return verifiedPayload(bundle);
    }
    virtual InstallerResult install(const InstalledIdentity& payload, const InstallerLocation& location,
        const InstallCallbacks& callbacks, const platform::KnownDigests& payloadDigests) const
    {
        (void)payloadDigests;
        return install(payload, location, callbacks);
    }
    virtual std::vector<KeptCopy> keptCopies() const = 0;
    virtual void restoreKeptCopy(const KeptCopy& kept) const = 0;
    virtual void removeKeptCopy(const KeptCopy& kept) const = 0;
};

// The controller's view of a real engine.
std::shared_ptr<const InstallerBackend> engineBackend(std::shared_ptr<const InstallerEngine> engine);

} // namespace quillmark
