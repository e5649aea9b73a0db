#pragma once

#include "platform/file_url.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quillmark::platform {

// The code-signature service: a bundle's seal (Contents/_CodeSignature) is
// checked against the bundle as it is on disk and against a requirement.
// Like the service it stands in for, it reports statuses rather than throwing.

using SealStatus = std::int32_t;

namespace sealStatus {
inline constexpr SealStatus success = 0;
inline constexpr SealStatus bundleUnreadable = 1;
inline constexpr SealStatus requirementUnreadable = 2;
inline constexpr SealStatus invalidFlags = 3;
inline constexpr SealStatus noSeal = 10;
inline constexpr SealStatus damagedSeal = 11;
inline constexpr SealStatus signatureInvalid = 12;
inline constexpr SealStatus requirementNotMet = 13;
inline constexpr SealStatus itemAdded = 20;
inline constexpr SealStatus itemMissing = 21;
inline constexpr SealStatus itemKindChanged = 22;
inline constexpr SealStatus fileChanged = 23;
inline constexpr SealStatus executableChanged = 24;
inline constexpr SealStatus linkChanged = 25;
inline constexpr SealStatus linkLeavesBundle = 26;
inline constexpr SealStatus unsupportedItem = 27;
inline constexpr SealStatus itemUnreadable = 28;
inline constexpr SealStatus identityChangingFile = 29;
} // namespace sealStatus

namespace sealFlags {
inline constexpr std::uint32_t defaults = 0;
inline constexpr std::uint32_t checkAllArchitectures = 1;
inline constexpr std::uint32_t strictValidate = 16;
} // namespace sealFlags

class CodeRequirement;
class KnownDigests;

// A bundle folder opened for checking. It keeps the folder open, so a check
// looks at the folder that was opened even if the path is changed meanwhile,
// and it remembers why its last check failed, naming the offending item.
class StaticCode {
public:
    ~StaticCode();
    StaticCode(const StaticCode&) = delete;
    StaticCode& operator=(const StaticCode&) = delete;

    const FileURL& url() const;
    // The status of the last check and its sentence ("" before any check).
    SealStatus lastStatus() const;
    const std::string& lastFailure() const;

private:
    struct State;
    explicit StaticCode(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;

    friend SealStatus createStaticCode(const FileURL&, std::uint32_t, std::unique_ptr<StaticCode>&);
    friend SealStatus checkValidity(StaticCode&, std::uint32_t, const CodeRequirement*, KnownDigests*);
};

// A compiled requirement: the signing identifier the seal must carry.
class CodeRequirement {
public:
    const std::string& identifier() const { return identifier_; }

private:
    explicit CodeRequirement(std::string identifier)
        : identifier_(std::move(identifier))
    {
    }
    std::string identifier_;

    friend SealStatus createRequirement(std::string_view, std::uint32_t, std::unique_ptr<CodeRequirement>&);
};

// Opens the bundle folder (a final symbolic link is refused). On success
// `code` holds the object; otherwise it is left empty.
SealStatus createStaticCode(const FileURL& bundle, std::uint32_t flags, std::unique_ptr<StaticCode>& code);

// Compiles `identifier "<text>"` (also `identifier = "<text>"` and an
// unquoted identifier). Anything else is requirementUnreadable.
SealStatus createRequirement(std::string_view text, std::uint32_t flags, std::unique_ptr<CodeRequirement>& requirement);

// Checks the seal strictly: the signature, every item of the bundle against
// the seal, no link leading out, no item other than files, folders and links,
// and the requirement when one is given. Flags may combine
// checkAllArchitectures and strictValidate; the check is always strict.
SealStatus checkValidity(StaticCode& code, std::uint32_t flags, const CodeRequirement* requirement);
// The same check, taking the digest of every file that is unchanged since
// `known` recorded it instead of reading the file again, and recording in
// it every digest it makes: several checks of one installation then read
// each file once.
SealStatus checkValidity(
    StaticCode& code, std::uint32_t flags, const CodeRequirement* requirement, KnownDigests* known);

// A sentence for `status` that reads well between "failed its integrity
// check: " and " Download a fresh installer.". When `code` gave that status
// in its last check, the sentence names the offending item. Nothing for a
// status this service does not know.
std::optional<std::string> copyErrorMessage(SealStatus status, const StaticCode* code);

} // namespace quillmark::platform
