#include "controller/installer_backend.hpp"

namespace quillmark {
namespace {

class EngineBackend : public InstallerBackend {
public:
    explicit EngineBackend(std::shared_ptr<const InstallerEngine> engine)
        : engine_(std::move(engine))
    {
    }

    InstalledIdentity verifiedPayload(const platform::FileURL& bundle) const override
    {
        return engine_->verifiedPayload(bundle);
    }

    InstalledIdentity verifiedPayload(const platform::FileURL& bundle, platform::KnownDigests& digests) const override
    {
        return engine_->verifiedPayload(bundle, digests);
    }

    std::vector<InstallerLocation> locations() const override { return engine_->locations(); }

    InstallerResult install(const InstalledIdentity& payload, const InstallerLocation& location,
        const InstallCallbacks& callbacks) const override
    {
        return engine_->install(payload, location, callbacks);
    }

    InstallerResult install(const InstalledIdentity& payload, const InstallerLocation& location,
        const InstallCallbacks& callbacks, const platform::KnownDigests& payloadDigests) const override
    {
        return engine_->install(payload, location, callbacks, payloadDigests);
    }
    std::vector<KeptCopy> keptCopies() const override { return engine_->keptCopies(); }
    void restoreKeptCopy(const KeptCopy& kept) const override { engine_->restoreKeptCopy(kept); }
    void removeKeptCopy(const KeptCopy& kept) const override { engine_->removeKeptCopy(kept); }

private:
    std::shared_ptr<const InstallerEngine> engine_;
};

} // namespace

std::shared_ptr<const InstallerBackend> engineBackend(std::shared_ptr<const InstallerEngine> engine)
{
    return std::make_shared<EngineBackend>(std::move(engine));
}

} // namespace quillmark
