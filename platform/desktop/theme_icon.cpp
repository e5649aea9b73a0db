#include "platform/desktop/theme_icon.hpp"

#include "platform/error.hpp"
#include "platform/files/file_manager.hpp"

#include <algorithm>
#include <array>

namespace quillmark::platform {
namespace {

// The sizes the theme's index lists for application icons.
constexpr std::array<unsigned, 13> themeSizes { 16, 22, 24, 32, 36, 48, 64, 72, 96, 128, 192, 256, 512 };

constexpr std::string_view pngSignature = "\x89PNG\r\n\x1a\n";

unsigned bigEndian32(std::string_view bytes)
{
    unsigned value = 0;
    for (unsigned char byte : bytes.substr(0, 4))
        value = (value << 8) | byte;
    return value;
}

[[noreturn]] void refuse(const std::string& path, const std::string& why)
{
    throw Error(std::string(fileErrorDomain), fileErrorCode::readCorruptFile,
        "The application's icon \u201C" + path + "\u201D " + why);
}

// The picture's width and height come first, in the IHDR chunk right after
// the signature.
unsigned squareSize(const std::string& png, const std::string& path)
{
    if (png.size() < 24 || std::string_view(png).substr(0, 8) != pngSignature || png.compare(12, 4, "IHDR") != 0)
        refuse(path, "is not a PNG picture.");
    unsigned width = bigEndian32(std::string_view(png).substr(16));
    unsigned height = bigEndian32(std::string_view(png).substr(20));
    if (width != height || std::find(themeSizes.begin(), themeSizes.end(), width) == themeSizes.end())
        refuse(path, "is " + std::to_string(width) + " \u00D7 " + std::to_string(height)
                + " pixels; the desktop's icon theme takes square pictures of 16 to 512 pixels in its usual sizes.");
    return width;
}

} // namespace

std::optional<ThemeIcon> bundleIcon(const FileURL& bundle, std::string_view iconFile)
{
    if (iconFile.empty())
        return std::nullopt;
    auto resources = bundle.appendingDirectory("Contents").appendingDirectory("Resources");
    auto url = resources.appendingFile(iconFile);
    if (iconFile.find('/') != std::string_view::npos || iconFile == "." || iconFile == "..")
        refuse(url.path(), "is not a file name of the bundle's resources.");
    auto manager = systemFileManager();
    if (!iconFile.ends_with(".png") && !manager->fileExists(url))
        url = resources.appendingFile(std::string(iconFile) + ".png");
    ThemeIcon icon;
    icon.png = manager->contentsOfFile(url);
    icon.size = squareSize(icon.png, url.path());
    return icon;
}

void installThemeIcon(const OwnedFolder& dataFolder, std::string_view name, const ThemeIcon& icon,
    unsigned folderMode)
{
    auto theme = dataFolder.subfolder("icons", folderMode).subfolder("hicolor", folderMode);
    const auto sizeName = std::to_string(icon.size) + "x" + std::to_string(icon.size);
    theme.subfolder(sizeName, folderMode).subfolder("apps", folderMode).replaceFile(std::string(name) + ".png", icon.png, 0644);
    // An icon cache of the theme, where one was made, counts as outdated once
    // the theme's folder is newer than the cache; desktops then look again.
    theme.markChanged();
}

} // namespace quillmark::platform
