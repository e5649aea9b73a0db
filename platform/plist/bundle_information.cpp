#include "platform/plist/bundle_information.hpp"

#include "platform/error.hpp"
#include "platform/files/file_manager.hpp"

#include <cerrno>
#include <climits>
#include <unistd.h>

namespace quillmark::platform {
namespace {

bool endsWith(std::string_view text, std::string_view suffix)
{
    return text.size() > suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::optional<PropertyListValue> readInfo(const FileURL& bundle)
{
    try {
        auto info = parsePropertyList(systemFileManager()->contentsOfFile(
            bundle.appendingDirectory("Contents").appendingFile("Info.plist")));
        if (info.isDictionary())
            return info;
    } catch (const Error&) {
        // A bundle whose keys cannot be read offers none; the payload check
        // then reports that the payload does not match this installer.
    }
    return PropertyListValue::makeDictionary({});
}

} // namespace

BundleInformation::BundleInformation(FileURL url, std::optional<PropertyListValue> info)
    : url_(std::move(url))
    , info_(std::move(info))
{
}

std::optional<std::string> BundleInformation::string(std::string_view key) const
{
    if (!info_)
        return std::nullopt;
    const auto* value = info_->find(key);
    if (value == nullptr || !value->isString())
        return std::nullopt;
    return value->text();
}

std::optional<FileURL> BundleInformation::imageResource(std::string_view name) const
{
    if (!info_)
        return std::nullopt;
    auto image = url_.appendingDirectory("Contents").appendingDirectory("Resources").appendingFile(std::string(name) + ".png");
    if (!systemFileManager()->fileExists(image))
        return std::nullopt;
    return image;
}

std::optional<FileURL> bundleOfProgram(const FileURL& program)
{
    auto programFolder = program.deletingLastComponent();
    auto contents = programFolder.deletingLastComponent();
    auto bundle = contents.deletingLastComponent();
    if (programFolder.lastComponent() != "MacOS" || contents.lastComponent() != "Contents" || !endsWith(bundle.lastComponent(), ".app"))
        return std::nullopt;
    return FileURL(bundle.path(), true);
}

BundleInformation bundleInformationForExecutable(const FileURL& executable)
{
    if (auto bundle = bundleOfProgram(executable))
        return BundleInformation(*bundle, readInfo(*bundle));
    return BundleInformation(FileURL(executable.deletingLastComponent().path(), true), std::nullopt);
}

BundleInformation ownBundleInformation()
{
    char buffer[PATH_MAX];
    auto length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer)
        throw posixError(errno == 0 ? ENAMETOOLONG : errno, "find the installer program", "/proc/self/exe");
    return bundleInformationForExecutable(FileURL(std::string(buffer, static_cast<size_t>(length))));
}

} // namespace quillmark::platform
