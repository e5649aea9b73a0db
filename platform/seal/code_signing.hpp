#pragma once

#include "platform/file_url.hpp"
#include "platform/seal/seal_manifest.hpp"

#include <string>
#include <string_view>

namespace quillmark::platform {

// A new Ed25519 private key as PEM text. Keep it out of version control.
std::string generateSigningKey();

// Seals the bundle folder: every file, folder and link in it is recorded in
// Contents/_CodeSignature/Seal.plist and the exact bytes of that file are
// signed into Seal.sig. An existing seal is replaced. Refuses (with a
// code-seal or file error, leaving any old seal as it was) a bundle without
// "Contents", an item that is not a file, folder or link, a link that leads
// outside the bundle, an identifier outside [A-Za-z0-9._-] and a bad key.
void signBundle(const FileURL& bundle, std::string_view privateKeyPem, std::string_view identifier);

// The seal as recorded, without checking it against the bundle.
struct SealContents {
    SealManifest manifest;
    bool signatureMatches = false; // the signature is valid for the recorded key
};

// Throws a code-seal error when the bundle has no seal or it cannot be
// decoded, and a file error when the bundle cannot be opened.
SealContents readSeal(const FileURL& bundle);

} // namespace quillmark::platform
