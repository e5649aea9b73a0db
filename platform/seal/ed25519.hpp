#pragma once

#include <array>
#include <string>
#include <string_view>

namespace quillmark::platform::ed25519 {

using PublicKey = std::array<unsigned char, 32>;
using Signature = std::array<unsigned char, 64>;

// A new private key as PEM text (PKCS #8).
std::string generatePrivateKeyPem();

// The public half of a PEM private key. Throws a code-seal error when the
// text is not an Ed25519 private key.
PublicKey publicKeyOf(std::string_view privateKeyPem);

Signature sign(std::string_view privateKeyPem, std::string_view message);

// False for any mismatch; never throws for bad input.
bool verify(const PublicKey& key, std::string_view message, const Signature& signature);

} // namespace quillmark::platform::ed25519
