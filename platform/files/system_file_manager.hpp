#pragma once

#include "platform/files/file_manager.hpp"

namespace quillmark::platform {

// The real file system. Tests derive from it to override the operations they
// want to fail and keep the rest real.
class SystemFileManager : public FileManager {
public:
    ItemAttributes attributesOfItem(const FileURL& url) const override;
    HeldItem holdItem(const FileURL& url) const override;
    std::vector<std::string> contentsOfDirectory(const FileURL& url) const override;
    bool isDirectory(const FileURL& url) const override;
    bool fileExists(const FileURL& url) const override;
    bool isExecutableFile(const FileURL& url) const override;
    std::string contentsOfFile(const FileURL& url) const override;
    void createDirectory(const FileURL& url, MissingParents parents,
        std::optional<unsigned> permissions = std::nullopt) const override;
    using FileManager::copyItem;
    void copyItem(const FileURL& source, const FileURL& destination, const CopiedFile& fileCopied) const override;
    void moveItem(const FileURL& source, const FileURL& destination) const override;
    void removeItem(const FileURL& url) const override;
    void synchronize(const FileURL& url, SyncScope scope) const override;
    FileURL homeDirectoryForCurrentUser() const override;
};

} // namespace quillmark::platform
