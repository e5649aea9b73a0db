#pragma once

#include "engine/installer_engine.hpp"
#include "platform/file_url.hpp"
#include "platform/files/file_manager.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace quillmark::transaction {

// Where a root holds the installed copy, and the file every installer locks
// before it changes anything in that root.
platform::FileURL destinationIn(const platform::FileURL& root);
platform::FileURL lockFileIn(const platform::FileURL& root);

// Inside a staging folder: where the installed copy waits while its
// successor is moved in and verified.
inline constexpr std::string_view previousCopyName = "Previous Quillmark.app";

// Whether a name in a root is exactly that of a staging folder: the prefix
// and an upper-case UUID, nothing more.
bool isStagingFolderName(const std::string& name);

// Whether the item at `url`, inside a root, is a staging folder of an
// earlier installation: a real folder (not a link) with a staging name.
bool isStagingFolder(const platform::FileManager& manager, const platform::FileURL& url);

// Whether a staging folder holds something under the name of an installed
// copy that was moved aside. When its contents cannot be read it counts as
// holding one.
bool holdsPreviousCopy(const platform::FileManager& manager, const platform::FileURL& staging);

// The installed copy that was moved aside into a staging folder, when it is
// whole: it passes the seal check. A copy whose removal was cut short is not.
std::optional<InstalledIdentity> wholePreviousCopy(const InstallerEngine& engine, const platform::FileURL& staging);

} // namespace quillmark::transaction
