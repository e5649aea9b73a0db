// Feeds arbitrary bytes to payload verification as a bundle's seal manifest
// (Contents/_CodeSignature/Seal.plist). The harness signs each input with
// its own key, so inputs get past the signature and reach the decoding of
// the manifest and its comparison with a small fixed bundle on disk.
//
// A manifest carries the public key that checks its signature. Inputs name
// that key by a placeholder, the base64 text of 32 zero bytes, which the
// harness replaces with its own key before signing. With
// QUILLMARK_WRITE_SEAL_SEED=FILE set, the harness writes the manifest of its
// fixed bundle in that form to FILE and exits: a seed for the corpus.

#include "engine/installer_engine.hpp"
#include "platform/seal/code_signing.hpp"
#include "platform/seal/ed25519.hpp"
#include "platform/error.hpp"
#include "platform/seal/seal_manifest.hpp"
#include "tests/fuzz/fuzz_bundle.hpp"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <unistd.h>

namespace {

using quillmark::fuzzing::replaceFile;
namespace platform = quillmark::platform;

constexpr std::string_view placeholderKey = "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";

constexpr std::string_view information = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
	<key>CFBundleIdentifier</key><string>app.quillmark.viewer</string>
	<key>CFBundlePackageType</key><string>APPL</string>
	<key>CFBundleExecutable</key><string>Quillmark</string>
	<key>CFBundleShortVersionString</key><string>2.4</string>
	<key>CFBundleVersion</key><string>241</string>
</dict>
</plist>
)";

std::string base64(std::string_view bytes)
{
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t chunk = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            chunk |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size())
            chunk |= static_cast<unsigned char>(bytes[i + 2]);
        text += alphabet[(chunk >> 18) & 63];
        text += alphabet[(chunk >> 12) & 63];
        text += i + 1 < bytes.size() ? alphabet[(chunk >> 6) & 63] : '=';
        text += i + 2 < bytes.size() ? alphabet[chunk & 63] : '=';
    }
    return text;
}

std::string replaceAll(std::string text, std::string_view from, std::string_view to)
{
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

struct Fixture {
    Fixture()
    {
        replaceFile(bundle + "/Contents/Info.plist", information);
        replaceFile(bundle + "/Contents/MacOS/Quillmark", "#!/bin/sh\nexit 0\n", 0755);
        replaceFile(bundle + "/Contents/Resources/About.txt", "Quillmark reads and shows documents.\n");
        replaceFile(bundle + "/Contents/Resources/en.lproj/Strings.txt", "\"Open\" = \"Open\";\n");
        ::symlink("About.txt", (bundle + "/Contents/Resources/Current").c_str());
        replaceFile(bundle + "/Contents/Frameworks/.keep", "");
        platform::signBundle(url, key, "app.quillmark.viewer");
        auto publicKey = platform::ed25519::publicKeyOf(key);
        keyText = base64(std::string_view(reinterpret_cast<const char*>(publicKey.data()), publicKey.size()));
    }

    quillmark::fuzzing::FuzzFolder folder;
    std::string bundle = folder.path() + "/Quillmark.app";
    platform::FileURL url { bundle, true };
    std::string key = platform::ed25519::generatePrivateKeyPem();
    std::string keyText;
    quillmark::InstallerEngine engine { { platform::FileURL(folder.path(), true) } };
};

Fixture& fixture()
{
    static Fixture shared;
    return shared;
}

// Installs `input` as the seal and verifies the bundle: "accepted" or the refusal.
std::string verifyWithSeal(std::string_view input)
{
    auto& f = fixture();
    auto manifest = replaceAll(std::string(input), placeholderKey, f.keyText);
    auto signature = platform::ed25519::sign(f.key, manifest);
    replaceFile(f.bundle + "/" + std::string(platform::sealManifestPath), manifest);
    replaceFile(f.bundle + "/" + std::string(platform::sealSignaturePath),
        std::string_view(reinterpret_cast<const char*>(signature.data()), signature.size()));
    try {
        f.engine.verifiedPayload(f.url);
        return "accepted";
    } catch (const quillmark::InstallerFailure& failure) {
        return failure.message();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    auto& f = fixture();
    if (const char* seed = std::getenv("QUILLMARK_WRITE_SEAL_SEED")) {
        std::ifstream sealed(f.bundle + "/" + std::string(platform::sealManifestPath), std::ios::binary);
        std::string manifest((std::istreambuf_iterator<char>(sealed)), std::istreambuf_iterator<char>());
        auto input = replaceAll(manifest, f.keyText, placeholderKey);
        std::ofstream(seed, std::ios::binary) << input;
        std::cerr << "Wrote " << seed << "; with it the bundle is " << verifyWithSeal(input) << ".\n";
        std::exit(0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    verifyWithSeal(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
