#include "platform/seal/code_seal.hpp"

#include "platform/seal/bundle_tree.hpp"
#include "platform/seal/code_requirement_text.hpp"
#include "platform/seal/seal_check.hpp"

namespace quillmark::platform {
namespace {

constexpr std::uint32_t knownValidityFlags = sealFlags::checkAllArchitectures | sealFlags::strictValidate;

} // namespace

struct StaticCode::State {
    FileURL url { "/" };
    UniqueFd folder;
    SealStatus lastStatus = sealStatus::success;
    std::string lastFailure;
};

StaticCode::StaticCode(std::unique_ptr<State> state)
    : state_(std::move(state))
{
}

StaticCode::~StaticCode() = default;

const FileURL& StaticCode::url() const { return state_->url; }
SealStatus StaticCode::lastStatus() const { return state_->lastStatus; }
const std::string& StaticCode::lastFailure() const { return state_->lastFailure; }

SealStatus createStaticCode(const FileURL& bundle, std::uint32_t flags, std::unique_ptr<StaticCode>& code)
{
    code.reset();
    if (flags != sealFlags::defaults)
        return sealStatus::invalidFlags;
    int error = 0;
    auto folder = openFolderNoFollow(bundle.path(), error);
    if (!folder)
        return sealStatus::bundleUnreadable;
    auto state = std::make_unique<StaticCode::State>();
    state->url = bundle;
    state->folder = std::move(folder);
    code.reset(new StaticCode(std::move(state)));
    return sealStatus::success;
}

SealStatus createRequirement(std::string_view text, std::uint32_t flags, std::unique_ptr<CodeRequirement>& requirement)
{
    requirement.reset();
    if (flags != sealFlags::defaults)
        return sealStatus::invalidFlags;
    auto identifier = requiredIdentifier(text);
    if (!identifier)
        return sealStatus::requirementUnreadable;
    requirement.reset(new CodeRequirement(std::move(*identifier)));
    return sealStatus::success;
}

SealStatus checkValidity(StaticCode& code, std::uint32_t flags, const CodeRequirement* requirement)
{
    return checkValidity(code, flags, requirement, nullptr);
}

SealStatus checkValidity(StaticCode& code, std::uint32_t flags, const CodeRequirement* requirement, KnownDigests* known)
{
    auto& state = *code.state_;
    if ((flags & ~knownValidityFlags) != 0) {
        state.lastStatus = sealStatus::invalidFlags;
        state.lastFailure.clear();
        return state.lastStatus;
    }
    std::optional<std::string> identifier;
    if (requirement != nullptr)
        identifier = requirement->identifier();
    auto result = checkBundleSeal(state.folder.get(), state.url.path(), identifier, known);
    state.lastStatus = result.status;
    state.lastFailure = std::move(result.failure);
    return state.lastStatus;
}

std::optional<std::string> copyErrorMessage(SealStatus status, const StaticCode* code)
{
    if (code != nullptr && status != sealStatus::success && code->lastStatus() == status && !code->lastFailure().empty())
        return code->lastFailure();
    switch (status) {
    case sealStatus::success:
        return "The code seal is valid.";
    case sealStatus::bundleUnreadable:
        return "The application folder could not be opened.";
    case sealStatus::requirementUnreadable:
        return "The code requirement could not be read.";
    case sealStatus::invalidFlags:
        return "The seal check was asked for with options it does not know.";
    case sealStatus::noSeal:
        return "The application has no code seal.";
    case sealStatus::damagedSeal:
        return "The code seal is damaged or unreadable.";
    case sealStatus::signatureInvalid:
        return "The signature of the code seal does not match the seal.";
    case sealStatus::requirementNotMet:
        return "The application is not sealed with the required identifier.";
    case sealStatus::itemAdded:
        return "An item was added after the application was sealed.";
    case sealStatus::itemMissing:
        return "A sealed item is missing.";
    case sealStatus::itemKindChanged:
        return "An item is no longer the kind of item that was sealed.";
    case sealStatus::fileChanged:
        return "A file was changed after the application was sealed.";
    case sealStatus::executableChanged:
        return "The executable permission of a file was changed after the application was sealed.";
    case sealStatus::linkChanged:
        return "A link was changed after the application was sealed.";
    case sealStatus::linkLeavesBundle:
        return "A link leads outside the application.";
    case sealStatus::unsupportedItem:
        return "The application contains a named pipe, socket or device.";
    case sealStatus::itemUnreadable:
        return "An item of the application could not be read.";
    case sealStatus::identityChangingFile:
        return "A file of the application has a set-user-ID or set-group-ID bit.";
    default:
        return std::nullopt;
    }
}

} // namespace quillmark::platform
