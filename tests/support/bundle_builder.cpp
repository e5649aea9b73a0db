#include "tests/support/bundle_builder.hpp"

#include "tests/support/temporary_folder.hpp"

#include <algorithm>

namespace quillmark::testing {

BundleBuilder::BundleBuilder()
    : executable_("#!/bin/sh\nexit 0\n")
{
    set("CFBundleIdentifier", "app.quillmark.viewer");
    set("CFBundlePackageType", "APPL");
    set("CFBundleExecutable", "Quillmark");
    set("CFBundleName", "Quillmark");
    set("CFBundleShortVersionString", "2.0");
    set("CFBundleVersion", "10");
}

BundleBuilder& BundleBuilder::set(const std::string& key, std::string value)
{
    return setValue(key, platform::PropertyListValue::makeString(std::move(value)));
}

BundleBuilder& BundleBuilder::setValue(const std::string& key, platform::PropertyListValue value)
{
    auto existing = std::find_if(keys_.begin(), keys_.end(), [&](const auto& entry) { return entry.first == key; });
    if (existing != keys_.end())
        existing->second = std::move(value);
    else
        keys_.emplace_back(key, std::move(value));
    return *this;
}

BundleBuilder& BundleBuilder::remove(const std::string& key)
{
    std::erase_if(keys_, [&](const auto& entry) { return entry.first == key; });
    return *this;
}

BundleBuilder& BundleBuilder::format(PropertyListFormat format)
{
    format_ = format;
    return *this;
}

BundleBuilder& BundleBuilder::rawInfo(std::string bytes)
{
    rawInfo_ = std::move(bytes);
    return *this;
}

BundleBuilder& BundleBuilder::withoutInfo()
{
    writesInfo_ = false;
    return *this;
}

BundleBuilder& BundleBuilder::executable(std::string contents, unsigned mode)
{
    executable_ = std::move(contents);
    executableMode_ = mode;
    return *this;
}

BundleBuilder& BundleBuilder::withoutExecutable()
{
    executable_.reset();
    return *this;
}

platform::FileURL BundleBuilder::write(const std::string& path) const
{
    makeFolder(path + "/Contents/MacOS");
    writeFile(path + "/Contents/Resources/About.txt", "Quillmark reads and shows documents.\n");
    if (writesInfo_) {
        std::string bytes;
        if (rawInfo_) {
            bytes = *rawInfo_;
        } else {
            auto info = platform::PropertyListValue::makeDictionary(keys_);
            bytes = format_ == PropertyListFormat::xml ? platform::xmlPropertyList(info) : platform::binaryPropertyList(info);
        }
        writeFile(path + "/Contents/Info.plist", bytes);
    }
    if (executable_)
        writeFile(path + "/Contents/MacOS/Quillmark", *executable_, executableMode_);
    return platform::FileURL(path, true);
}

} // namespace quillmark::testing
