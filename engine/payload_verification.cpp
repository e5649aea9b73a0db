#include "engine/installer_engine.hpp"

#include "platform/seal/code_seal.hpp"

namespace quillmark {
namespace {

constexpr std::string_view executableMessage = "The Quillmark application executable is missing or invalid.";
constexpr std::string_view unreadableSignatureMessage
    = "The application code signature could not be read. Download a fresh installer.";
constexpr std::string_view integrityPrefix = "The application failed its integrity check: ";
constexpr std::string_view integritySuffix = " Download a fresh installer.";
constexpr std::string_view fallbackReason = "Signature validation failed.";

constexpr std::string_view codeRequirement = "identifier \"app.quillmark.viewer\"";
constexpr std::uint32_t validityFlags = platform::sealFlags::checkAllArchitectures | platform::sealFlags::strictValidate;

[[noreturn]] void refuse(std::string_view message)
{
    throw InstallerFailure(std::string(message));
}

} // namespace

InstalledIdentity InstallerEngine::verifiedPayload(const platform::FileURL& bundle) const
{
    return verify(bundle, nullptr);
}

InstalledIdentity InstallerEngine::verifiedPayload(const platform::FileURL& bundle, platform::KnownDigests& known) const
{
    return verify(bundle, &known);
}

InstalledIdentity InstallerEngine::verify(const platform::FileURL& bundle, platform::KnownDigests* known) const
{
    auto identity = metadata(bundle);

    auto executableFolder = bundle.appendingDirectory("Contents").appendingDirectory("MacOS");
    auto executable = executableFolder.appendingFile("Quillmark");
    if (isLink(executableFolder) || isLink(executable))
        refuse(executableMessage);
    if (!manager().isExecutableFile(executable))
        refuse(executableMessage);

    // Both objects are made before either status is looked at; they are
    // released on every way out by their owners.
    std::unique_ptr<platform::StaticCode> code;
    std::unique_ptr<platform::CodeRequirement> requirement;
    auto codeStatus = platform::createStaticCode(bundle, platform::sealFlags::defaults, code);
    auto requirementStatus = platform::createRequirement(codeRequirement, platform::sealFlags::defaults, requirement);
    if (codeStatus != platform::sealStatus::success || requirementStatus != platform::sealStatus::success || !code)
        refuse(unreadableSignatureMessage);

    auto status = platform::checkValidity(*code, validityFlags, requirement.get(), known);
    if (status == platform::sealStatus::success)
        return identity;
    auto reason = platform::copyErrorMessage(status, code.get()).value_or(std::string(fallbackReason));
    refuse(std::string(integrityPrefix) + reason + std::string(integritySuffix));
}

} // namespace quillmark
