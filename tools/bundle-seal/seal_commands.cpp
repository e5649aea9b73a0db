#include "tools/bundle-seal/seal_commands.hpp"

#include "platform/seal/code_seal.hpp"
#include "platform/seal/code_signing.hpp"
#include "platform/error.hpp"
#include "platform/unique_fd.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <sys/stat.h>

namespace quillmark::tools {
namespace {

std::string quoted(const std::string& text)
{
    return "\u201C" + text + "\u201D";
}

int fail(const std::string& sentence)
{
    std::cerr << "bundle-seal: " << sentence << '\n';
    return exitFailure;
}

platform::FileURL bundleURL(const std::string& path)
{
    std::string absolute = path;
    if (!absolute.starts_with('/')) {
        char* current = ::getcwd(nullptr, 0);
        absolute = std::string(current != nullptr ? current : ".") + "/" + path;
        std::free(current);
    }
    return platform::FileURL(absolute, true).standardized();
}

std::optional<std::string> readKey(const std::string& keyPath, std::string& problem)
{
    platform::UniqueFd file(::open(keyPath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file) {
        problem = "Cannot read the key " + quoted(keyPath) + ": " + std::strerror(errno) + ".";
        return std::nullopt;
    }
    std::string key;
    char buffer[4096];
    for (;;) {
        ssize_t length = ::read(file.get(), buffer, sizeof buffer);
        if (length < 0 && errno == EINTR)
            continue;
        if (length < 0) {
            problem = "Cannot read the key " + quoted(keyPath) + ": " + std::strerror(errno) + ".";
            return std::nullopt;
        }
        if (length == 0)
            return key;
        key.append(buffer, static_cast<std::size_t>(length));
        if (key.size() > 64 * 1024) {
            problem = "The key file " + quoted(keyPath) + " is far too large to be a signing key.";
            return std::nullopt;
        }
    }
}

const char* kindName(platform::SealedItem::Kind kind)
{
    switch (kind) {
    case platform::SealedItem::Kind::folder:
        return "folder";
    case platform::SealedItem::Kind::file:
        return "file  ";
    case platform::SealedItem::Kind::link:
        return "link  ";
    }
    return "?     ";
}

} // namespace

int generateKey(const std::string& keyPath)
{
    std::string key;
    try {
        key = platform::generateSigningKey();
    } catch (const platform::Error& error) {
        return fail(error.description());
    }
    // Never overwrite a key: losing one means no release can be re-signed with it.
    platform::UniqueFd file(::open(keyPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!file) {
        if (errno == EEXIST)
            return fail(quoted(keyPath) + " already exists; a key is never overwritten. Choose another name.");
        return fail("Cannot create the key file " + quoted(keyPath) + ": " + std::strerror(errno) + ".");
    }
    std::size_t done = 0;
    while (done < key.size()) {
        ssize_t length = ::write(file.get(), key.data() + done, key.size() - done);
        if (length < 0 && errno == EINTR)
            continue;
        if (length < 0) {
            int error = errno;
            ::unlink(keyPath.c_str());
            return fail("Cannot write the key file " + quoted(keyPath) + ": " + std::strerror(error) + ".");
        }
        done += static_cast<std::size_t>(length);
    }
    if (::fsync(file.get()) != 0) {
        int error = errno;
        ::unlink(keyPath.c_str());
        return fail("Cannot write the key file " + quoted(keyPath) + ": " + std::strerror(error) + ".");
    }
    std::cout << "Wrote a new signing key to " << quoted(keyPath) << ". Keep it private.\n";
    return exitSuccess;
}

int sign(const std::string& keyPath, const std::string& identifier, const std::string& bundlePath)
{
    std::string problem;
    auto key = readKey(keyPath, problem);
    if (!key)
        return fail(problem);
    auto bundle = bundleURL(bundlePath);
    try {
        platform::signBundle(bundle, *key, identifier);
    } catch (const platform::Error& error) {
        return fail(error.description());
    }
    std::cout << "Sealed " << quoted(bundle.path()) << " as " << quoted(identifier) << ".\n";
    return exitSuccess;
}

int verify(const std::optional<std::string>& requirementText, const std::string& bundlePath)
{
    auto bundle = bundleURL(bundlePath);
    std::unique_ptr<platform::StaticCode> code;
    std::unique_ptr<platform::CodeRequirement> requirement;
    if (platform::createStaticCode(bundle, platform::sealFlags::defaults, code) != platform::sealStatus::success)
        return fail("Cannot open the bundle " + quoted(bundle.path()) + ": it is missing, not a folder, or a link.");
    if (requirementText
        && platform::createRequirement(*requirementText, platform::sealFlags::defaults, requirement)
            != platform::sealStatus::success)
        return fail("The requirement " + quoted(*requirementText)
            + " could not be read; write it as identifier \"<identifier>\".");

    auto status = platform::checkValidity(*code,
        platform::sealFlags::checkAllArchitectures | platform::sealFlags::strictValidate, requirement.get());
    if (status != platform::sealStatus::success)
        return fail(quoted(bundle.path()) + " is not valid: "
            + platform::copyErrorMessage(status, code.get()).value_or("Signature validation failed."));
    std::cout << quoted(bundle.path()) << " is intact"
              << (requirement ? " and satisfies " + quoted(*requirementText) : std::string()) << ".\n";
    return exitSuccess;
}

int show(const std::string& bundlePath)
{
    auto bundle = bundleURL(bundlePath);
    platform::SealContents seal;
    try {
        seal = platform::readSeal(bundle);
    } catch (const platform::Error& error) {
        return fail(error.description());
    }
    std::cout << "Bundle:     " << bundle.path() << '\n'
              << "Identifier: " << seal.manifest.identifier << '\n'
              << "Public key: " << platform::hexText(seal.manifest.publicKey) << '\n'
              << "Signature:  " << (seal.signatureMatches ? "matches the seal" : "DOES NOT match the seal") << '\n'
              << "Items:      " << seal.manifest.items.size() << '\n';
    for (const auto& [path, item] : seal.manifest.items) {
        std::cout << "  " << kindName(item.kind) << "  ";
        if (item.kind == platform::SealedItem::Kind::file)
            std::cout << platform::hexText(item.sha256) << (item.executable ? " x " : "   ");
        std::cout << path;
        if (item.kind == platform::SealedItem::Kind::link)
            std::cout << " -> " << item.linkTarget;
        std::cout << '\n';
    }
    return exitSuccess;
}

} // namespace quillmark::tools
