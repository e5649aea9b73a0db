#pragma once

#include "platform/file_url.hpp"
#include "platform/plist/property_list.hpp"

#include <optional>
#include <string>
#include <vector>

namespace quillmark::testing {

enum class PropertyListFormat { xml, binary };

// Writes a viewer bundle to disk: Contents/Info.plist with the keys a valid
// viewer has (each can be changed or removed), an executable
// Contents/MacOS/Quillmark and a resource file.
class BundleBuilder {
public:
    BundleBuilder();

    BundleBuilder& version(std::string value) { return set("CFBundleShortVersionString", std::move(value)); }
    BundleBuilder& build(std::string value) { return set("CFBundleVersion", std::move(value)); }
    BundleBuilder& releaseVersion(std::string value) { return set("QuillmarkReleaseVersion", std::move(value)); }
    BundleBuilder& set(const std::string& key, std::string value);
    BundleBuilder& setValue(const std::string& key, platform::PropertyListValue value);
    BundleBuilder& remove(const std::string& key);
    BundleBuilder& format(PropertyListFormat format);
    // Info.plist gets exactly these bytes instead of the keys.
    BundleBuilder& rawInfo(std::string bytes);
    BundleBuilder& withoutInfo();
    BundleBuilder& executable(std::string contents, unsigned mode = 0755);
    BundleBuilder& withoutExecutable();

    // Writes the bundle at `path` (the folder "….app" itself) and returns its URL.
    platform::FileURL write(const std::string& path) const;

private:
    std::vector<platform::PropertyListValue::Entry> keys_;
    PropertyListFormat format_ = PropertyListFormat::xml;
    std::optional<std::string> rawInfo_;
    bool writesInfo_ = true;
    std::optional<std::string> executable_;
    unsigned executableMode_ = 0755;
};

} // namespace quillmark::testing
