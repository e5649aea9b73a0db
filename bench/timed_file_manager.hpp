#pragma once

#include "platform/files/system_file_manager.hpp"

#include <chrono>
#include <string>
#include <vector>

namespace quillmark::bench {

// The system's file manager, noting when each operation that takes time in
// an installation begins and ends, so that a run can be cut into its phases
// from outside the engine. Without syncs, synchronize does nothing (and is
// still noted), to show what durability costs.
class TimedFileManager : public platform::SystemFileManager {
public:
    enum class Operation { createDirectory, copy, move, remove, sync };
    struct Event {
        Operation operation;
        std::chrono::steady_clock::time_point begin;
        std::chrono::steady_clock::time_point end;
    };

    explicit TimedFileManager(bool syncs)
        : syncs_(syncs)
    {
    }

    const std::vector<Event>& events() const { return events_; }

    void createDirectory(const platform::FileURL& url, platform::MissingParents parents,
        std::optional<unsigned> permissions) const override;
    using platform::FileManager::copyItem;
    void copyItem(const platform::FileURL& source, const platform::FileURL& destination,
        const CopiedFile& fileCopied) const override;
    void moveItem(const platform::FileURL& source, const platform::FileURL& destination) const override;
    void removeItem(const platform::FileURL& url) const override;
    void synchronize(const platform::FileURL& url, platform::SyncScope scope) const override;

private:
    template <typename Call>
    void timed(Operation operation, Call call) const;

    bool syncs_;
    mutable std::vector<Event> events_;
};

// Where the time of one installation went, in seconds.
struct InstallationPhases {
    static constexpr const char* names[] = { "payload verification", "copy", "staged verification (after the copy)",
        "syncs", "renames", "verification in place", "removals", "other" };
    double seconds[std::size(names)] {};
};

// Cuts the run from `begin` to `end` into phases by the events noted: the
// payload is verified before the root folder is made, the staged copy
// between the copy and the first sync, the copy in place between the last
// rename and the sync after it.
InstallationPhases phasesOf(const std::vector<TimedFileManager::Event>& events,
    std::chrono::steady_clock::time_point begin, std::chrono::steady_clock::time_point end);

} // namespace quillmark::bench
