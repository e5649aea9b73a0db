#pragma once

#include "platform/file_url.hpp"

#include <string>
#include <string_view>

namespace quillmark::testing {

// The private key (PEM) all test seals are made with: generated once per
// test process, never stored.
const std::string& testSigningKey();

// Seals a bundle written by BundleBuilder (or any folder with "Contents")
// with the test key, so verifiedPayload accepts it. Replaces an existing seal.
void sealBundle(const platform::FileURL& bundle, std::string_view identifier = "app.quillmark.viewer");

} // namespace quillmark::testing
