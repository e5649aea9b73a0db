#pragma once

#include "platform/file_url.hpp"
#include "platform/unique_fd.hpp"

#include <string_view>

namespace quillmark::platform {

// A folder that belongs to this process's user (or to the system's
// administrator), through which files that other programs read are replaced
// whole. Every folder below the first is opened without following links, and
// nothing is ever written through an item that belongs to another user.
class OwnedFolder {
public:
    // Opens `url`, creating it and the folders missing above it with
    // `missingMode`. Links on the way to it are followed: the user chose it.
    static OwnedFolder open(const FileURL& url, unsigned missingMode);

    // The folder `name` inside this one, created with `missingMode` when
    // missing. A link in its place is refused, not followed.
    OwnedFolder subfolder(std::string_view name, unsigned missingMode) const;

    // Puts a file `name` with `contents` and exactly `mode` in this folder:
    // written in full to a new file beside it, made durable, then renamed
    // over the old one, so a reader finds the old file or the new one and
    // never part of either. A link at `name` is replaced, never followed; an
    // item at `name` that belongs to another user is left alone and refused.
    void replaceFile(std::string_view name, std::string_view contents, unsigned mode) const;

    // Marks the folder as changed now, for caches that compare its time.
    void markChanged() const;

    const FileURL& url() const { return url_; }

private:
    OwnedFolder(UniqueFd fd, FileURL url);

    UniqueFd fd_;
    FileURL url_;
};

} // namespace quillmark::platform
