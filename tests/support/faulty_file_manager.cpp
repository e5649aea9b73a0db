#include "tests/support/faulty_file_manager.hpp"

#include "platform/error.hpp"

namespace quillmark::testing {

void FaultyFileManager::before(FileOperation operation, PathMatch match, Action action, int from)
{
    rules_.push_back(Rule { operation, std::move(match), [action](const std::string&) { action(); }, false, from });
}

void FaultyFileManager::after(FileOperation operation, PathMatch match, Action action)
{
    rules_.push_back(Rule { operation, std::move(match), [action](const std::string&) { action(); }, true, 1 });
}

void FaultyFileManager::fail(FileOperation operation, PathMatch match, int number, int from)
{
    rules_.push_back(Rule {
        operation, std::move(match), [number](const std::string& path) { throw injectedError(number, path); }, false, from });
}

void FaultyFileManager::run(FileOperation operation, const std::string& path, bool afterCall) const
{
    // By index: an action may add rules of its own.
    for (std::size_t i = 0; i < rules_.size(); ++i) {
        const Rule& rule = rules_[i];
        if (rule.operation != operation || rule.afterCall != afterCall || !rule.match(path))
            continue;
        if (++rule.seen >= rule.from)
            rule.action(path);
    }
}

template <typename Call>
auto FaultyFileManager::around(FileOperation operation, const std::string& path, Call call) const
{
    run(operation, path, false);
    if constexpr (std::is_void_v<decltype(call())>) {
        call();
        run(operation, path, true);
    } else {
        auto result = call();
        run(operation, path, true);
        return result;
    }
}

platform::ItemAttributes FaultyFileManager::attributesOfItem(const platform::FileURL& url) const
{
    return around(FileOperation::attributesOfItem, url.path(), [&] { return SystemFileManager::attributesOfItem(url); });
}

platform::HeldItem FaultyFileManager::holdItem(const platform::FileURL& url) const
{
    return around(FileOperation::holdItem, url.path(), [&] { return SystemFileManager::holdItem(url); });
}

std::vector<std::string> FaultyFileManager::contentsOfDirectory(const platform::FileURL& url) const
{
    return around(
        FileOperation::contentsOfDirectory, url.path(), [&] { return SystemFileManager::contentsOfDirectory(url); });
}

bool FaultyFileManager::fileExists(const platform::FileURL& url) const
{
    return around(FileOperation::fileExists, url.path(), [&] { return SystemFileManager::fileExists(url); });
}

bool FaultyFileManager::isExecutableFile(const platform::FileURL& url) const
{
    return around(FileOperation::isExecutableFile, url.path(), [&] { return SystemFileManager::isExecutableFile(url); });
}

void FaultyFileManager::createDirectory(
    const platform::FileURL& url, platform::MissingParents parents, std::optional<unsigned> permissions) const
{
    around(FileOperation::createDirectory, url.path(),
        [&] { SystemFileManager::createDirectory(url, parents, permissions); });
}

void FaultyFileManager::copyItem(
    const platform::FileURL& source, const platform::FileURL& destination, const CopiedFile& fileCopied) const
{
    CopiedFile observed = [&](const std::string& path) {
        run(FileOperation::fileCopied, path, false);
        if (fileCopied)
            fileCopied(path);
        run(FileOperation::fileCopied, path, true);
    };
    around(FileOperation::copyItem, source.path(), [&] { SystemFileManager::copyItem(source, destination, observed); });
}

void FaultyFileManager::moveItem(const platform::FileURL& source, const platform::FileURL& destination) const
{
    around(FileOperation::moveItem, source.path(), [&] { SystemFileManager::moveItem(source, destination); });
}

void FaultyFileManager::removeItem(const platform::FileURL& url) const
{
    around(FileOperation::removeItem, url.path(), [&] { SystemFileManager::removeItem(url); });
}

void FaultyFileManager::synchronize(const platform::FileURL& url, platform::SyncScope scope) const
{
    around(FileOperation::synchronize, url.path(), [&] { SystemFileManager::synchronize(url, scope); });
}

platform::Error injectedError(int number, const std::string& path)
{
    return platform::fileError(number, platform::FileAccess::writing, "change", path);
}

FaultyFileManager::PathMatch pathIs(std::string path)
{
    return [path = std::move(path)](const std::string& candidate) { return candidate == path; };
}

FaultyFileManager::PathMatch pathEndsWith(std::string suffix)
{
    return [suffix = std::move(suffix)](const std::string& candidate) { return candidate.ends_with(suffix); };
}

} // namespace quillmark::testing
