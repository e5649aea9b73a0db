#pragma once

#include "platform/file_url.hpp"
#include "platform/plist/property_list.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace quillmark::platform {

// A bundle's location and the keys of its Contents/Info.plist.
class BundleInformation {
public:
    // `info` is absent for a program that runs outside a bundle.
    BundleInformation(FileURL url, std::optional<PropertyListValue> info);

    const FileURL& url() const { return url_; }
    // The value under `key` when it is a string.
    std::optional<std::string> string(std::string_view key) const;
    // Contents/Resources/<name>.png, when the bundle has it.
    std::optional<FileURL> imageResource(std::string_view name) const;

private:
    FileURL url_;
    std::optional<PropertyListValue> info_;
};

// "<X>.app" for a program "<X>.app/Contents/MacOS/<name>"; nothing for a
// program anywhere else.
std::optional<FileURL> bundleOfProgram(const FileURL& program);

// The bundle this program runs from: the program is
// "<X>.app/Contents/MacOS/<name>". Outside a bundle: the program's folder,
// with no keys and no resources. An unreadable Info.plist counts as no keys.
BundleInformation ownBundleInformation();
// The same, for a program at `executable`.
BundleInformation bundleInformationForExecutable(const FileURL& executable);

} // namespace quillmark::platform
