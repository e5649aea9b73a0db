#pragma once

#include "platform/unique_fd.hpp"

#include <cstdint>
#include <set>
#include <string>
#include <stop_token>
#include <string_view>
#include <vector>

namespace quillmark::platform {

enum class BundleItemKind { folder, file, link, other };

// One item inside a bundle, as the file system shows it without following links.
struct BundleItem {
    std::string path; // relative to the bundle, components joined by "/"
    BundleItemKind kind = BundleItemKind::other;
    bool executable = false; // files: any execute bit set
    bool setsIdentity = false; // files: a set-user-ID or set-group-ID bit
    std::uint64_t size = 0; // files
    std::string linkTarget; // links: the target text as stored
    std::string otherKind; // other: what it is, e.g. "a named pipe"
};

// Every item below the folder `rootFd`, in sorted path order with each folder
// before its contents, leaving out the paths in `skip`. Links are listed, never
// followed. `displayPath` names the bundle in errors. Throws a "file" domain
// error when a folder cannot be read. Once `stop` is requested, no further
// folder is read and what was listed so far is returned.
std::vector<BundleItem> listBundleItems(
    int rootFd, std::string_view displayPath, const std::set<std::string>& skip, std::stop_token stop = {});

// Opens `relativePath` below `rootFd`, refusing a symbolic link at every
// step, so nothing outside the tree can be reached. No component may be
// empty, "." or "..".
// Returns the errno on failure (ELOOP for a link) and leaves the fd empty.
int openBeneath(int rootFd, std::string_view relativePath, int flags, UniqueFd& opened);

// Opens a folder given by an absolute path, refusing a link as its last component.
UniqueFd openFolderNoFollow(const std::string& path, int& error);

} // namespace quillmark::platform
