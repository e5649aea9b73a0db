#include "platform/desktop/desktop_registration.hpp"

#include "platform/desktop/bundle_program.hpp"
#include "platform/desktop/desktop_entry.hpp"
#include "platform/desktop/helper_program.hpp"
#include "platform/desktop/owned_folder.hpp"
#include "platform/desktop/theme_icon.hpp"
#include "platform/error.hpp"
#include "platform/files/file_manager.hpp"
#include "platform/plist/property_list.hpp"

#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace quillmark::platform {
namespace {

const FileURL systemDataFolder("/usr/local/share", true);

// The menu categories for the bundle's LSApplicationCategoryType.
std::string categoriesFor(const std::string& applicationCategory)
{
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 10> table { {
        { "public.app-category.productivity", "Office;" },
        { "public.app-category.business", "Office;" },
        { "public.app-category.finance", "Office;Finance;" },
        { "public.app-category.reference", "Office;" },
        { "public.app-category.education", "Education;" },
        { "public.app-category.developer-tools", "Development;" },
        { "public.app-category.graphics-design", "Graphics;" },
        { "public.app-category.photography", "Graphics;Photography;" },
        { "public.app-category.music", "AudioVideo;Audio;" },
        { "public.app-category.video", "AudioVideo;Video;" },
    } };
    for (const auto& [category, categories] : table) {
        if (category == applicationCategory)
            return std::string(categories);
    }
    return "Utility;";
}

std::string stringKey(const PropertyListValue& info, std::string_view key)
{
    const auto* value = info.find(key);
    return value != nullptr && value->isString() ? value->text() : std::string();
}

[[noreturn]] void refuseBundle(const FileURL& bundle, const std::string& why)
{
    throw Error(std::string(fileErrorDomain), fileErrorCode::readCorruptFile,
        "The application \u201C" + bundle.path() + "\u201D " + why);
}

// The desktop names entries and icons by reverse domain names.
bool isEntryName(const std::string& identifier)
{
    if (identifier.empty() || identifier.front() == '.' || identifier.find("..") != std::string::npos)
        return false;
    for (unsigned char c : identifier) {
        if (!std::isalnum(c) && c != '.' && c != '-' && c != '_')
            return false;
    }
    return true;
}

bool mayWrite(const FileURL& folder)
{
    return ::faccessat(AT_FDCWD, folder.path().c_str(), W_OK, AT_EACCESS) == 0;
}

bool exists(const FileURL& item)
{
    return ::faccessat(AT_FDCWD, item.path().c_str(), F_OK, AT_EACCESS) == 0;
}

FileURL userDataFolder(const FileURL& home)
{
    // A relative value is invalid by the desktop's rules and ignored.
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/')
        return FileURL(data, true).standardized();
    return home.appendingDirectory(".local").appendingDirectory("share");
}

DesktopEntry entryFor(const FileURL& bundle, const PropertyListValue& info, bool hasIcon, const std::string& identifier)
{
    auto program = bundleProgram(bundle, info);
    auto name = stringKey(info, "CFBundleDisplayName");
    if (name.empty())
        name = stringKey(info, "CFBundleName");
    if (name.empty()) {
        name = bundle.lastComponent();
        if (name.ends_with(".app"))
            name.resize(name.size() - 4);
    }
    // X11 programs that do not choose a window class get their program's
    // name with its first letter in upper case; the viewer sets the same.
    auto windowClass = program.lastComponent();
    windowClass[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(windowClass[0])));
    return DesktopEntry {
        .name = name,
        // As the installer opens it.
        .program = program.path(),
        .workingFolder = std::string(applicationStartFolder),
        .icon = hasIcon ? std::optional<std::string>(identifier) : std::nullopt,
        .categories = categoriesFor(stringKey(info, "LSApplicationCategoryType")),
        .windowClass = windowClass,
    };
}

} // namespace

std::optional<DesktopDataFolder> desktopDataFolder(const FileURL& bundle)
{
    auto home = systemFileManager()->homeDirectoryForCurrentUser();
    if (bundle.path().starts_with(home.path() + "/"))
        return DesktopDataFolder { userDataFolder(home), 0700 };
    auto applications = systemDataFolder.appendingDirectory("applications");
    if (exists(applications) ? mayWrite(applications) : mayWrite(systemDataFolder))
        return DesktopDataFolder { systemDataFolder, 0755 };
    return std::nullopt;
}

void registerWithDesktop(const FileURL& bundle)
{
    if (auto dataFolder = desktopDataFolder(bundle))
        registerWithDesktop(bundle, *dataFolder);
}

void registerWithDesktop(const FileURL& bundle, const DesktopDataFolder& dataFolder)
{
    auto contents = bundle.appendingDirectory("Contents");
    auto info = parsePropertyList(systemFileManager()->contentsOfFile(contents.appendingFile("Info.plist")));
    auto identifier = stringKey(info, "CFBundleIdentifier");
    if (!isEntryName(identifier))
        refuseBundle(bundle, "has no bundle identifier the desktop can name its entry by.");
    auto icon = bundleIcon(bundle, stringKey(info, "CFBundleIconFile"));
    auto text = desktopEntryText(entryFor(bundle, info, icon.has_value(), identifier));

    auto data = OwnedFolder::open(dataFolder.url, dataFolder.folderMode);
    // The icon first, so that the entry never names an icon that is not there.
    if (icon)
        installThemeIcon(data, identifier, *icon, dataFolder.folderMode);
    auto applications = data.subfolder("applications", dataFolder.folderMode);
    applications.replaceFile(identifier + ".desktop", text, 0644);

    if (auto indexer = programOnPath("update-desktop-database")) {
        if (runHelperProgram({ *indexer, "-q", applications.url().path() }) != 0)
            throw Error(std::string(fileErrorDomain), fileErrorCode::writeUnknown,
                "The desktop's index of the applications in \u201C" + applications.url().path()
                    + "\u201D could not be brought up to date.");
    }
}

} // namespace quillmark::platform
