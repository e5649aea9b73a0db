#pragma once

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <string_view>

// The sentences the installation shows the user. They are part of the
// installer's interface: the controller shows them as they are.
namespace quillmark::transaction::message {

inline constexpr std::string_view unsafeLocation = "This installation location is not safe to replace.";
inline constexpr std::string_view payloadChanged = "The installer payload changed. Open the installer again.";
inline constexpr std::string_view notSeparate = "The installer source and destination must be separate application copies.";
inline constexpr std::string_view linkOnRootPath
    = "The destination contains a symbolic-link path. Choose a normal Applications folder.";
inline constexpr std::string_view lockHeld = "Another Quillmark installer is using this location. Wait for it to finish.";
inline constexpr std::string_view installedVersionChanged
    = "The installed version changed. Review the destination again before continuing.";
inline constexpr std::string_view previousRemoved
    = "The previous application was removed. Review the destination again before continuing.";
inline constexpr std::string_view stagedVersionMismatch = "The staged application version does not match the installer.";
inline constexpr std::string_view destinationChanged = "The destination changed while preparing the installation.";
inline constexpr std::string_view applicationAppeared
    = "An application appeared at the destination. Review the location and try again.";
inline constexpr std::string_view installedApplicationChanged
    = "The installed application changed. Review the location and try again.";
inline constexpr std::string_view newDestinationChanged = "The new destination was changed by another process.";
inline constexpr std::string_view destinationOccupied
    = "The destination was occupied before the previous copy could be restored.";

inline std::string backupNotRemoved(const std::string& backupPath)
{
    return "The update succeeded. A previous application copy remains at " + backupPath
        + " because it could not be removed.";
}

inline std::string recoveryFailed(const std::string& backupPath, const std::string& reason)
{
    return "The installation failed and automatic recovery could not finish. Your previous copy is retained at "
        + backupPath + ". " + reason;
}

// Nothing was installed before, so there is no previous copy to point to;
// what may need the user's attention is whatever stayed at the destination.
inline std::string newInstallRecoveryFailed(const std::string& destinationPath, const std::string& reason)
{
    return "The installation failed and automatic recovery could not finish. There was no previous copy to keep; "
           "check what remains at "
        + destinationPath + ". " + reason;
}

} // namespace quillmark::transaction::message

namespace quillmark::transaction::message {

// "12.3 MB": decimal units, as disk sizes are sold and shown.
inline std::string byteCountText(std::uint64_t bytes)
{
    if (bytes < 1000)
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    static constexpr const char* units[] = { "KB", "MB", "GB", "TB", "PB" };
    double value = static_cast<double>(bytes) / 1000.0;
    std::size_t unit = 0;
    while (value >= 999.95 && unit + 1 < std::size(units)) {
        value /= 1000.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

inline std::string notEnoughSpace(const std::string& rootPath, std::uint64_t needed, std::uint64_t available)
{
    return "There is not enough free space to install Quillmark in " + rootPath + ". It needs "
        + byteCountText(needed) + ", and " + byteCountText(available) + " is free. Free some space and try again.";
}

} // namespace quillmark::transaction::message

namespace quillmark::transaction::message {

inline constexpr std::string_view keptCopyChanged
    = "The kept copy changed since the installer found it. Open the installer again to review it.";

inline std::string noCopyInstalled(const std::string& destinationPath)
{
    return "No Quillmark is installed at " + destinationPath + " any more, so the kept copy was not removed.";
}

} // namespace quillmark::transaction::message
