#include "platform/seal/seal_check.hpp"

#include "platform/seal/background_listing.hpp"
#include "platform/seal/bundle_tree.hpp"
#include "platform/error.hpp"
#include "platform/seal/link_containment.hpp"
#include "platform/seal/seal_files.hpp"
#include "platform/seal/seal_manifest.hpp"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <mutex>

namespace quillmark::platform {
namespace {

// Far more than any seal this code writes (a bundle of 100,000 items makes a
// seal of about 25 MB); a bigger file is refused before it is read into memory.
constexpr std::size_t manifestLimit = 64 * 1024 * 1024;

std::string quoted(std::string_view text)
{
    return "\u201C" + std::string(text) + "\u201D";
}

SealCheckResult fail(SealStatus status, std::string failure)
{
    return { status, std::move(failure) };
}

const char* kindName(SealedItem::Kind kind)
{
    switch (kind) {
    case SealedItem::Kind::folder:
        return "a folder";
    case SealedItem::Kind::file:
        return "a file";
    case SealedItem::Kind::link:
        return "a link";
    }
    return "an item";
}

SealedItem::Kind sealedKindOf(BundleItemKind kind)
{
    switch (kind) {
    case BundleItemKind::folder:
        return SealedItem::Kind::folder;
    case BundleItemKind::file:
        return SealedItem::Kind::file;
    default:
        return SealedItem::Kind::link;
    }
}

// The seal records only whether a file is executable, and an installed copy
// keeps its mode bits; a set-ID bit added to a sealed executable would
// otherwise pass and run with the owner's rights.
SealCheckResult identityChangingFile(const std::string& path)
{
    return fail(sealStatus::identityChangingFile,
        "The file " + quoted(path) + " has a set-user-ID or set-group-ID bit, which an application may not have.");
}

SealCheckResult executableChanged(const std::string& path, bool executableNow)
{
    return fail(sealStatus::executableChanged,
        executableNow ? "The file " + quoted(path) + " was made executable after the application was sealed."
                      : "The file " + quoted(path) + " is no longer executable, as it was when the application was sealed.");
}

std::optional<SealCheckResult> readSeal(int bundleFd, std::string_view path, std::size_t limit, std::string& contents)
{
    int error = readSealFile(bundleFd, path, limit, contents);
    if (error == 0)
        return std::nullopt;
    if (error == ENOENT)
        return fail(sealStatus::noSeal, "The application has no code seal: " + quoted(path) + " is missing.");
    return fail(sealStatus::damagedSeal, "The code seal file " + quoted(path) + " is damaged or unreadable.");
}

// The items on disk against the items in the seal, files by kind only.
std::optional<SealCheckResult> compareItems(const std::vector<BundleItem>& items, const SealManifest& manifest)
{
    for (const auto& item : items) {
        if (item.kind == BundleItemKind::other)
            return fail(sealStatus::unsupportedItem,
                "The item " + quoted(item.path) + " is " + item.otherKind + ", which an application may not contain.");
        if (item.setsIdentity)
            return identityChangingFile(item.path);
    }
    if (auto link = firstEscapingLink(items))
        return fail(sealStatus::linkLeavesBundle, "The link " + quoted(*link) + " leads outside the application.");

    for (const auto& item : items) {
        auto sealed = manifest.items.find(item.path);
        if (sealed == manifest.items.end())
            return fail(sealStatus::itemAdded,
                "The item " + quoted(item.path) + " was added after the application was sealed.");
        auto kind = sealedKindOf(item.kind);
        if (sealed->second.kind != kind)
            return fail(sealStatus::itemKindChanged,
                "The item " + quoted(item.path) + " is " + kindName(kind) + ", but it was sealed as "
                    + kindName(sealed->second.kind) + ".");
        if (kind == SealedItem::Kind::link && sealed->second.linkTarget != item.linkTarget)
            return fail(sealStatus::linkChanged,
                "The link " + quoted(item.path) + " points to " + quoted(item.linkTarget) + " instead of "
                    + quoted(sealed->second.linkTarget) + ".");
        if (kind == SealedItem::Kind::file && sealed->second.executable != item.executable)
            return executableChanged(item.path, item.executable);
    }
    if (items.size() != manifest.items.size()) {
        for (const auto& [path, sealed] : manifest.items) {
            auto found = std::lower_bound(items.begin(), items.end(), path,
                [](const BundleItem& item, const std::string& wanted) { return item.path < wanted; });
            bool present = found != items.end() && found->path == path;
            if (!present)
                return fail(sealStatus::itemMissing, "The sealed item " + quoted(path) + " is missing.");
        }
    }
    return std::nullopt;
}

// Every file's content and mode as read now against the seal; the first
// mismatch (by path order) wins, so the answer does not depend on timing.
std::optional<SealCheckResult> compareDigests(int bundleFd, const std::string& displayPath,
    const std::vector<BundleItem>& items, const SealManifest& manifest, KnownDigests* known)
{
    std::vector<DigestTask> tasks;
    std::vector<const SealedItem*> expected;
    for (const auto& item : items) {
        if (item.kind == BundleItemKind::file) {
            tasks.push_back({ item.path, item.size });
            expected.push_back(&manifest.items.at(item.path));
        }
    }
    std::mutex lock;
    std::size_t failedIndex = std::numeric_limits<std::size_t>::max();
    std::optional<SealCheckResult> failure;
    digestFiles(bundleFd, tasks, [&](std::size_t index, const FileDigest& digest) {
        std::optional<SealCheckResult> problem;
        const auto& path = tasks[index].path;
        if (digest.error != 0)
            problem = fail(sealStatus::itemUnreadable,
                fileError(digest.error, FileAccess::reading, "read", displayPath + "/" + path).description());
        else if (!digest.regular)
            problem = fail(sealStatus::itemKindChanged,
                "The file " + quoted(path) + " was replaced by another kind of item while it was checked.");
        else if (digest.setsIdentity)
            problem = identityChangingFile(path);
        else if (digest.executable != expected[index]->executable)
            problem = executableChanged(path, digest.executable);
        else if (digest.sha256 != expected[index]->sha256)
            problem = fail(sealStatus::fileChanged,
                "The file " + quoted(path) + " was changed after the application was sealed.");
        if (!problem)
            return true;
        std::lock_guard guard(lock);
        if (index < failedIndex) {
            failedIndex = index;
            failure = std::move(problem);
        }
        return false;
    }, known);
    return failure;
}

} // namespace

SealCheckResult checkBundleSeal(int bundleFd, const std::string& displayPath,
    const std::optional<std::string>& requiredIdentifier, KnownDigests* known)
{
    BackgroundListing listing(bundleFd, displayPath, { std::string(sealManifestPath), std::string(sealSignaturePath) });
    std::string manifestBytes;
    std::string signatureBytes;
    if (auto failure = readSeal(bundleFd, sealManifestPath, manifestLimit, manifestBytes))
        return *failure;
    if (auto failure = readSeal(bundleFd, sealSignaturePath, ed25519::Signature {}.size(), signatureBytes))
        return *failure;
    ed25519::Signature signature {};
    if (signatureBytes.size() != signature.size())
        return fail(sealStatus::damagedSeal,
            "The code seal file " + quoted(sealSignaturePath) + " is damaged or unreadable.");
    std::copy(signatureBytes.begin(), signatureBytes.end(), reinterpret_cast<char*>(signature.data()));

    auto manifest = decodeSealManifest(manifestBytes);
    if (!manifest)
        return fail(sealStatus::damagedSeal,
            "The code seal file " + quoted(sealManifestPath) + " is damaged or unreadable.");
    if (!ed25519::verify(manifest->publicKey, manifestBytes, signature))
        return fail(sealStatus::signatureInvalid, "The signature of the code seal does not match the seal.");

    std::vector<BundleItem> items;
    try {
        items = listing.take();
    } catch (const Error& error) {
        return fail(sealStatus::itemUnreadable, error.description());
    }
    if (auto failure = compareItems(items, *manifest))
        return *failure;
    if (auto failure = compareDigests(bundleFd, displayPath, items, *manifest, known))
        return *failure;

    if (requiredIdentifier && manifest->identifier != *requiredIdentifier)
        return fail(sealStatus::requirementNotMet,
            "The application is sealed as " + quoted(manifest->identifier) + ", not as "
                + quoted(*requiredIdentifier) + " as required.");
    return {};
}

} // namespace quillmark::platform
