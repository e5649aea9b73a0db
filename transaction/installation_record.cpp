#include "transaction/installation_record.hpp"

#include "platform/files/append_only_file.hpp"
#include "platform/files/uuid.hpp"

#include <cstdio>
#include <ctime>

namespace quillmark::transaction {
namespace {

std::string wallClockNow()
{
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::tm parts {};
    ::gmtime_r(&now.tv_sec, &parts);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03ld UTC", parts.tm_year + 1900, parts.tm_mon + 1,
        parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, now.tv_nsec / 1'000'000);
    return text;
}

} // namespace

std::string describeCopy(const InstalledIdentity& identity)
{
    return "Quillmark " + identity.releaseVersion + " (build " + identity.build + ")";
}

InstallationRecord::InstallationRecord(const platform::AppendOnlyFile* file)
    : file_(file)
{
    if (!file_)
        return;
    try {
        // Tells apart the lines of two installations that ran at once.
        tag_ = platform::randomUUIDText().substr(0, 8);
    } catch (...) {
        tag_ = "--------";
    }
}

void InstallationRecord::begin(const InstalledIdentity& payload, const platform::FileURL& destination,
    const std::optional<InstalledIdentity>& reviewed) const noexcept
{
    if (!file_)
        return;
    file_->rotateIfFull();
    try {
        step("installation of " + describeCopy(payload) + " from " + payload.url.path() + " to " + destination.path()
            + (reviewed ? ", replacing " + describeCopy(*reviewed) : std::string(", a new installation")));
    } catch (...) {
    }
}

void InstallationRecord::step(std::string_view what) const noexcept
{
    if (!file_)
        return;
    try {
        auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        char offset[32];
        std::snprintf(offset, sizeof offset, "+%.3f s", elapsed);
        std::string line = wallClockNow() + "  " + tag_ + "  " + offset + "  ";
        line.append(what);
        // One line per step, whatever the text held.
        for (auto& character : line) {
            if (character == '\n' || character == '\r')
                character = ' ';
        }
        line += '\n';
        file_->append(line);
    } catch (...) {
    }
}

} // namespace quillmark::transaction
