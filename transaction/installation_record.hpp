#pragma once

#include "engine/records.hpp"
#include "platform/file_url.hpp"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace quillmark::platform {
class AppendOnlyFile;
}

namespace quillmark::transaction {

// The lines one installation adds to the record a person can show when they
// ask for help: what was installed where, each step with its time since the
// start, and how it ended. Each line is written as it happens, so the record
// of an installation that was killed ends at its last step. Writing never
// fails the installation; without a file nothing is written.
class InstallationRecord {
public:
    explicit InstallationRecord(const platform::AppendOnlyFile* file);

    void begin(const InstalledIdentity& payload, const platform::FileURL& destination,
        const std::optional<InstalledIdentity>& reviewed) const noexcept;
    void step(std::string_view what) const noexcept;

private:
    const platform::AppendOnlyFile* file_;
    std::string tag_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// "Quillmark 2.4.0 (build 241)".
std::string describeCopy(const InstalledIdentity& identity);

} // namespace quillmark::transaction
