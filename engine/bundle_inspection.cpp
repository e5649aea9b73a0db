#include "engine/installer_engine.hpp"

#include "platform/plist/property_list.hpp"
#include "platform/regular_expression.hpp"

namespace quillmark {
namespace {

constexpr std::string_view notABundle = "The application is missing, is a link, or is not an application folder.";
constexpr std::string_view notTheViewer = "This application is not a valid Quillmark viewer bundle.";
constexpr std::string_view badRelease = "The application release metadata is invalid.";

constexpr std::string_view versionPattern = R"(^[0-9]+(\.[0-9]+){1,2}$)";
constexpr std::string_view buildPattern = R"(^[0-9]+(\.[0-9]+){0,2}$)";
constexpr std::string_view releaseVersionPattern = R"(^[0-9]+\.[0-9]+(\.[0-9]+)?(-[0-9A-Za-z.-]+)?(\+[0-9A-Za-z.-]+)?$)";

// An application's information is a few kilobytes. The parser's time grows
// faster than the size of the file, so a far larger one is refused before
// parsing rather than left to stall the installer.
constexpr std::size_t maximumInformationSize = 4 * 1024 * 1024;

struct RequiredKey {
    std::string_view key;
    std::string_view value;
};

constexpr RequiredKey identityKeys[] = {
    { "CFBundleIdentifier", "app.quillmark.viewer" },
    { "CFBundlePackageType", "APPL" },
    { "CFBundleExecutable", "Quillmark" },
};

[[noreturn]] void refuse(std::string_view message)
{
    throw InstallerFailure(std::string(message));
}

const std::string& requiredString(const platform::PropertyListValue& info, std::string_view key)
{
    const auto* value = info.find(key);
    if (value == nullptr || !value->isString())
        refuse(notTheViewer);
    return value->text();
}

// The release version's numeric core: the text before the first "-", and of
// that the text before the first "+".
std::string_view numericCore(std::string_view release)
{
    auto core = release.substr(0, release.find('-'));
    return core.substr(0, core.find('+'));
}

} // namespace

InstalledIdentity InstallerEngine::metadata(const platform::FileURL& bundle) const
{
    if (isLink(bundle))
        refuse(notABundle);
    bool isFolder = false;
    try {
        isFolder = manager_->isDirectory(bundle);
    } catch (const std::exception&) {
        refuse(notABundle);
    }
    if (!isFolder)
        refuse(notABundle);

    auto contents = bundle.appendingDirectory("Contents");
    auto infoFile = contents.appendingFile("Info.plist");
    if (isLink(contents) || isLink(infoFile))
        refuse(notTheViewer);

    // Read and parse errors reach the caller as they are: they say best what is wrong.
    auto bytes = manager_->contentsOfFile(infoFile);
    if (bytes.size() > maximumInformationSize)
        refuse(notTheViewer);
    auto info = platform::parsePropertyList(bytes);
    if (!info.isDictionary())
        refuse(notTheViewer);

    for (const auto& [key, required] : identityKeys) {
        if (requiredString(info, key) != required)
            refuse(notTheViewer);
    }
    const std::string& version = requiredString(info, "CFBundleShortVersionString");
    const std::string& build = requiredString(info, "CFBundleVersion");

    static const platform::RegularExpression versionFormat(versionPattern);
    static const platform::RegularExpression buildFormat(buildPattern);
    static const platform::RegularExpression releaseVersionFormat(releaseVersionPattern);
    if (!versionFormat.matches(version) || !buildFormat.matches(build))
        refuse(notTheViewer);

    const auto* releaseValue = info.find("QuillmarkReleaseVersion");
    std::string releaseVersion = releaseValue != nullptr && releaseValue->isString() ? releaseValue->text() : version;
    if (!releaseVersionFormat.matches(releaseVersion))
        refuse(badRelease);
    if (compare(numericCore(releaseVersion), version) != ComparisonResult::same)
        refuse(badRelease);

    return InstalledIdentity { bundle, version, build, std::move(releaseVersion) };
}

bool InstallerEngine::isLink(const platform::FileURL& url) const
{
    try {
        auto attributes = manager_->attributesOfItem(url);
        return attributes.type == platform::FileType::symbolicLink;
    } catch (const std::exception&) {
        return false;
    }
}

std::string InstallerEngine::objectIdentity(const platform::FileURL& url) const
{
    // Held only while it is read. Compared with an identity that the caller
    // still holds, it is equal exactly when the path leads to that very object.
    return manager_->holdItem(url).identity();
}

} // namespace quillmark
