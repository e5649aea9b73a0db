#pragma once

#include "platform/file_url.hpp"
#include "platform/unique_fd.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillmark::platform {

enum class FileType { regular, directory, symbolicLink, other };

// Whether creating a folder also creates the folders missing above it.
enum class MissingParents { fail, create };

// What a sync makes durable: the item alone (for a folder, its own list of
// names), or the item with everything inside it.
enum class SyncScope { item, itemAndContents };

// What the file system says about an item itself (a final symbolic link is
// not followed). A field the file system did not report stays empty.
struct ItemAttributes {
    std::optional<FileType> type;
    std::optional<std::uint64_t> fileSystemNumber;
    std::optional<std::uint64_t> fileNumber;
};

// One file-system object, held open for as long as this value lives, and the
// identity it had when it was opened: a text that names this object and no
// other, ever (hold_item.cpp says how, file system by file system). While it
// is held, the object cannot be freed, so its inode number cannot pass to
// another item either.
class HeldItem {
public:
    HeldItem(UniqueFd descriptor, std::string identity)
        : descriptor_(std::move(descriptor))
        , identity_(std::move(identity))
    {
    }

    const std::string& identity() const { return identity_; }

private:
    UniqueFd descriptor_;
    std::string identity_;
};

// The file operations the engine performs. Every failure is thrown as a
// platform::Error in the "file" domain. The engine holds one through a shared
// pointer, so tests can hand it a wrapper that makes chosen operations fail.
class FileManager {
public:
    virtual ~FileManager() = default;

    // The item's own attributes; throws when they cannot be read.
    virtual ItemAttributes attributesOfItem(const FileURL& url) const = 0;
    // Opens the item itself (never through a final link) and holds it; throws
    // when it cannot be opened.
    virtual HeldItem holdItem(const FileURL& url) const = 0;
    // The names in a folder, without "." and ".."; a final link is not followed.
    virtual std::vector<std::string> contentsOfDirectory(const FileURL& url) const = 0;
    // Whether the item is a folder, following a final link; throws when the
    // question cannot be answered (nothing there, no permission).
    virtual bool isDirectory(const FileURL& url) const = 0;
    // Whether anything exists at the path, following links; a dangling link is nothing.
    virtual bool fileExists(const FileURL& url) const = 0;
    // Whether the path leads to a regular file this process may execute.
    virtual bool isExecutableFile(const FileURL& url) const = 0;
    // The whole content of a file; a file of more than 64 MB is refused as
    // too large (readTooLarge).
    virtual std::string contentsOfFile(const FileURL& url) const = 0;

    // Creates a folder. With MissingParents::create an existing folder is
    // accepted and missing parents are made; otherwise the folder must be new.
    // `permissions`, when given, are the folder's exact mode bits (the umask
    // does not apply to them).
    virtual void createDirectory(const FileURL& url, MissingParents parents,
        std::optional<unsigned> permissions = std::nullopt) const = 0;
    // Copies an item and everything in it to a new path: files, folders and
    // symbolic links (recreated as links), with their permission bits,
    // timestamps, extended attributes and, where allowed, owners. Any other
    // kind of item is refused without being opened. On failure nothing of
    // the copy is left behind.
    void copyItem(const FileURL& source, const FileURL& destination) const { copyItem(source, destination, {}); }
    // The same, calling `fileCopied` on the copying thread with the path in
    // the copy of each regular file as soon as that file is complete (its
    // data, attributes, mode and times) and the copy no longer holds it
    // open, while the copy goes on.
    using CopiedFile = std::function<void(const std::string& path)>;
    virtual void copyItem(const FileURL& source, const FileURL& destination, const CopiedFile& fileCopied) const = 0;
    // Renames an item. Never replaces an existing target and never copies:
    // a move across volumes fails.
    virtual void moveItem(const FileURL& source, const FileURL& destination) const = 0;
    // Removes an item and everything in it. Symbolic links are removed,
    // never followed.
    virtual void removeItem(const FileURL& url) const = 0;
    // Waits until the item (and, with SyncScope::itemAndContents, everything
    // in it, all on the item's volume) is on the disk, so that a power cut
    // cannot take it back.
    virtual void synchronize(const FileURL& url, SyncScope scope) const = 0;

    // $HOME, else the user's entry in the password database, with every
    // symbolic link on its path resolved.
    virtual FileURL homeDirectoryForCurrentUser() const = 0;
};

// The file manager that works on the real file system, shared by everyone.
std::shared_ptr<const FileManager> systemFileManager();

} // namespace quillmark::platform
