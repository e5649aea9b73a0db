#include "platform/seal/code_signing.hpp"

#include "platform/seal/bundle_tree.hpp"
#include "platform/seal/code_seal_error.hpp"
#include "platform/seal/ed25519.hpp"
#include "platform/seal/link_containment.hpp"
#include "platform/seal/seal_files.hpp"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>

namespace quillmark::platform {
namespace {

constexpr const char* manifestName = "Seal.plist";
constexpr const char* signatureName = "Seal.sig";
constexpr const char* manifestDraftName = ".Seal.plist.new";
constexpr const char* signatureDraftName = ".Seal.sig.new";

std::string quoted(std::string_view text)
{
    return "\u201C" + std::string(text) + "\u201D";
}

bool isIdentifierCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
}

void checkIdentifier(std::string_view identifier)
{
    bool valid = !identifier.empty();
    for (char c : identifier)
        valid = valid && isIdentifierCharacter(c);
    if (!valid)
        throw codeSealError(codeSealErrorCode::unsealableItem,
            "The identifier " + quoted(identifier)
                + " is not usable: it must be non-empty and hold only letters, digits, dots, hyphens and underscores.");
}

UniqueFd openBundle(const FileURL& bundle)
{
    int error = 0;
    auto folder = openFolderNoFollow(bundle.path(), error);
    if (!folder)
        throw fileError(error, FileAccess::reading, "open the bundle", bundle.path());
    return folder;
}

// Drafts left by an interrupted run would otherwise be sealed as items.
void removeLeftoverDrafts(int bundleFd)
{
    UniqueFd sealFolder;
    if (openBeneath(bundleFd, sealFolderPath, O_RDONLY | O_DIRECTORY, sealFolder) != 0)
        return;
    ::unlinkat(sealFolder.get(), manifestDraftName, 0);
    ::unlinkat(sealFolder.get(), signatureDraftName, 0);
}

// Contents/_CodeSignature, made if it is not there yet.
UniqueFd openSealFolder(int bundleFd, const FileURL& bundle)
{
    auto shownPath = bundle.path() + "/" + std::string(sealFolderPath);
    UniqueFd contents;
    if (int error = openBeneath(bundleFd, "Contents", O_RDONLY | O_DIRECTORY, contents))
        throw fileError(error, FileAccess::reading, "open", bundle.path() + "/Contents");
    if (::mkdirat(contents.get(), "_CodeSignature", 0755) != 0 && errno != EEXIST)
        throw fileError(errno, FileAccess::writing, "create the folder", shownPath);
    UniqueFd sealFolder;
    if (int error = openBeneath(contents.get(), "_CodeSignature", O_RDONLY | O_DIRECTORY, sealFolder))
        throw fileError(error, FileAccess::reading, "open the folder", shownPath);
    return sealFolder;
}

SealManifest sealedItems(int bundleFd, const FileURL& bundle)
{
    auto items = listBundleItems(bundleFd, bundle.path(), { std::string(sealManifestPath), std::string(sealSignaturePath) });
    SealManifest manifest;
    std::vector<DigestTask> tasks;
    for (const auto& item : items) {
        SealedItem sealed;
        switch (item.kind) {
        case BundleItemKind::folder:
            sealed.kind = SealedItem::Kind::folder;
            break;
        case BundleItemKind::file:
            if (item.setsIdentity)
                throw codeSealError(codeSealErrorCode::unsealableItem,
                    "The file " + quoted(item.path)
                        + " has a set-user-ID or set-group-ID bit; a sealed application may not have one.");
            sealed.kind = SealedItem::Kind::file;
            tasks.push_back({ item.path, item.size });
            break;
        case BundleItemKind::link:
            sealed.kind = SealedItem::Kind::link;
            sealed.linkTarget = item.linkTarget;
            break;
        case BundleItemKind::other:
            throw codeSealError(codeSealErrorCode::unsealableItem,
                "The item " + quoted(item.path) + " is " + item.otherKind
                    + "; a sealed application may hold only files, folders and links.");
        }
        manifest.items.emplace(item.path, std::move(sealed));
    }
    if (auto link = firstEscapingLink(items))
        throw codeSealError(codeSealErrorCode::unsealableItem,
            "The link " + quoted(*link) + " leads outside the application, so the application cannot be sealed.");

    std::mutex lock;
    std::optional<Error> failure;
    digestFiles(bundleFd, tasks, [&](std::size_t index, const FileDigest& digest) {
        const auto& path = tasks[index].path;
        if (digest.error == 0 && digest.regular && !digest.setsIdentity) {
            auto& sealed = manifest.items.at(path);
            sealed.sha256 = digest.sha256;
            sealed.executable = digest.executable;
            return true;
        }
        std::lock_guard guard(lock);
        if (!failure) {
            if (digest.error != 0)
                failure = fileError(digest.error, FileAccess::reading, "read", bundle.path() + "/" + path);
            else
                failure = codeSealError(codeSealErrorCode::unsealableItem,
                    "The file " + quoted(path) + " changed while the application was being sealed.");
        }
        return false;
    });
    if (failure)
        throw *failure;
    return manifest;
}

void writeDraft(int folderFd, const char* name, std::string_view bytes, const FileURL& bundle)
{
    auto shownPath = bundle.path() + "/Contents/_CodeSignature/" + name;
    UniqueFd file(::openat(folderFd, name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!file)
        throw fileError(errno, FileAccess::writing, "write", shownPath);
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t length = ::write(file.get(), bytes.data() + done, bytes.size() - done);
        if (length < 0 && errno == EINTR)
            continue;
        if (length < 0)
            throw fileError(errno, FileAccess::writing, "write", shownPath);
        done += static_cast<std::size_t>(length);
    }
    // The seal must be on disk before it replaces the old one.
    if (::fsync(file.get()) != 0)
        throw fileError(errno, FileAccess::writing, "write", shownPath);
}

void replaceSealFile(int folderFd, const char* draft, const char* name, const FileURL& bundle)
{
    if (::renameat(folderFd, draft, folderFd, name) != 0)
        throw fileError(errno, FileAccess::writing, "replace", bundle.path() + "/Contents/_CodeSignature/" + name);
}

} // namespace

std::string generateSigningKey()
{
    return ed25519::generatePrivateKeyPem();
}

void signBundle(const FileURL& bundle, std::string_view privateKeyPem, std::string_view identifier)
{
    checkIdentifier(identifier);
    auto publicKey = ed25519::publicKeyOf(privateKeyPem);
    auto bundleFolder = openBundle(bundle);
    removeLeftoverDrafts(bundleFolder.get());

    // Everything is read and checked before anything is written, so a refused
    // bundle is left exactly as it was.
    auto manifest = sealedItems(bundleFolder.get(), bundle);
    auto contents = manifest.items.find("Contents");
    if (contents == manifest.items.end() || contents->second.kind != SealedItem::Kind::folder)
        throw codeSealError(codeSealErrorCode::notABundle,
            quoted(bundle.path()) + " is not an application bundle: it has no \u201CContents\u201D folder.");
    manifest.items.emplace(std::string(sealFolderPath), SealedItem {});
    manifest.identifier = std::string(identifier);
    manifest.publicKey = publicKey;
    auto manifestBytes = encodeSealManifest(manifest);
    auto signature = ed25519::sign(privateKeyPem, manifestBytes);
    auto sealFolder = openSealFolder(bundleFolder.get(), bundle);

    try {
        writeDraft(sealFolder.get(), manifestDraftName, manifestBytes, bundle);
        writeDraft(sealFolder.get(), signatureDraftName,
            std::string_view(reinterpret_cast<const char*>(signature.data()), signature.size()), bundle);
        replaceSealFile(sealFolder.get(), manifestDraftName, manifestName, bundle);
        replaceSealFile(sealFolder.get(), signatureDraftName, signatureName, bundle);
    } catch (...) {
        ::unlinkat(sealFolder.get(), manifestDraftName, 0);
        ::unlinkat(sealFolder.get(), signatureDraftName, 0);
        throw;
    }
    ::fsync(sealFolder.get());
}

SealContents readSeal(const FileURL& bundle)
{
    auto bundleFolder = openBundle(bundle);
    std::string manifestBytes;
    std::string signatureBytes;
    for (auto [path, limit, into] : { std::tuple { sealManifestPath, std::size_t { 64 } << 20, &manifestBytes },
             std::tuple { sealSignaturePath, ed25519::Signature {}.size(), &signatureBytes } }) {
        int error = readSealFile(bundleFolder.get(), path, limit, *into);
        if (error == ENOENT)
            throw codeSealError(codeSealErrorCode::noSeal,
                quoted(bundle.path()) + " has no code seal: " + quoted(path) + " is missing.");
        if (error != 0)
            throw codeSealError(codeSealErrorCode::damagedSeal,
                "The code seal file " + quoted(path) + " of " + quoted(bundle.path()) + " is damaged or unreadable.");
    }
    auto manifest = decodeSealManifest(manifestBytes);
    if (!manifest)
        throw codeSealError(codeSealErrorCode::damagedSeal,
            "The code seal file " + quoted(sealManifestPath) + " of " + quoted(bundle.path()) + " is damaged or unreadable.");
    SealContents contents { std::move(*manifest), false };
    ed25519::Signature signature {};
    if (signatureBytes.size() == signature.size()) {
        std::copy(signatureBytes.begin(), signatureBytes.end(), reinterpret_cast<char*>(signature.data()));
        contents.signatureMatches = ed25519::verify(contents.manifest.publicKey, manifestBytes, signature);
    }
    return contents;
}

} // namespace quillmark::platform
