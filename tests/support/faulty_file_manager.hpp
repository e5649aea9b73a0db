#pragma once

#include "platform/error.hpp"
#include "platform/files/system_file_manager.hpp"

#include <functional>
#include <string>
#include <vector>

namespace quillmark::testing {

enum class FileOperation {
    attributesOfItem,
    holdItem,
    contentsOfDirectory,
    fileExists,
    isExecutableFile,
    createDirectory,
    copyItem,
    // Not a call of its own: a file of a copy in progress complete, matched
    // by its path in the copy; rules run before and after the copy's caller
    // hears of it.
    fileCopied,
    moveItem,
    removeItem,
    synchronize,
};

// The real file manager, with actions that tests attach to chosen calls: an
// action may change the disk at that exact moment, or throw to make the call
// fail. A call is chosen by its operation and by the path of its first item
// (the source of a copy or a move).
class FaultyFileManager : public platform::SystemFileManager {
public:
    using PathMatch = std::function<bool(const std::string& path)>;
    using Action = std::function<void()>;

    // Runs `action` before every call that matches, from the `from`-th match on.
    void before(FileOperation operation, PathMatch match, Action action, int from = 1);
    // Runs `action` after every call that matches and succeeded.
    void after(FileOperation operation, PathMatch match, Action action);
    // Makes matching calls fail with the "file" error the real call would
    // give for `number`, from the `from`-th match on.
    void fail(FileOperation operation, PathMatch match, int number, int from = 1);

    platform::ItemAttributes attributesOfItem(const platform::FileURL& url) const override;
    platform::HeldItem holdItem(const platform::FileURL& url) const override;
    std::vector<std::string> contentsOfDirectory(const platform::FileURL& url) const override;
    bool fileExists(const platform::FileURL& url) const override;
    bool isExecutableFile(const platform::FileURL& url) const override;
    void createDirectory(const platform::FileURL& url, platform::MissingParents parents,
        std::optional<unsigned> permissions) const override;
    using platform::FileManager::copyItem;
    void copyItem(const platform::FileURL& source, const platform::FileURL& destination,
        const CopiedFile& fileCopied) const override;
    void moveItem(const platform::FileURL& source, const platform::FileURL& destination) const override;
    void removeItem(const platform::FileURL& url) const override;
    void synchronize(const platform::FileURL& url, platform::SyncScope scope) const override;

private:
    using PathAction = std::function<void(const std::string& path)>;
    struct Rule {
        FileOperation operation;
        PathMatch match;
        PathAction action;
        bool afterCall;
        int from;
        mutable int seen = 0;
    };

    void run(FileOperation operation, const std::string& path, bool afterCall) const;
    template <typename Call>
    auto around(FileOperation operation, const std::string& path, Call call) const;

    std::vector<Rule> rules_;
};

// The error `fail` makes a call on `path` throw.
platform::Error injectedError(int number, const std::string& path);

// Path matches for the calls a test picks.
FaultyFileManager::PathMatch pathIs(std::string path);
FaultyFileManager::PathMatch pathEndsWith(std::string suffix);

} // namespace quillmark::testing
