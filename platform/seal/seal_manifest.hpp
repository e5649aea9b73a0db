#pragma once

#include "platform/seal/ed25519.hpp"
#include "platform/seal/file_digests.hpp"

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace quillmark::platform {

inline constexpr std::string_view sealFolderPath = "Contents/_CodeSignature";
inline constexpr std::string_view sealManifestPath = "Contents/_CodeSignature/Seal.plist";
inline constexpr std::string_view sealSignaturePath = "Contents/_CodeSignature/Seal.sig";
inline constexpr long sealFormatVersion = 1;

// What the seal records for one item of the bundle.
struct SealedItem {
    enum class Kind { folder, file, link };
    Kind kind = Kind::folder;
    Sha256 sha256 {}; // files
    bool executable = false; // files
    std::string linkTarget; // links
};

// The content of Seal.plist.
struct SealManifest {
    std::string identifier;
    ed25519::PublicKey publicKey {};
    std::map<std::string, SealedItem> items; // by path relative to the bundle
};

// The XML property list that is signed and stored as Seal.plist.
std::string encodeSealManifest(const SealManifest& manifest);

// The manifest in `bytes`, or nothing when they are not a seal of the format
// this code writes.
std::optional<SealManifest> decodeSealManifest(std::string_view bytes);

std::string hexText(std::span<const unsigned char> bytes);

} // namespace quillmark::platform
