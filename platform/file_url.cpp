#include "platform/file_url.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace quillmark::platform {
namespace {

std::string withoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::vector<std::string_view> components(std::string_view path)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        if (end > start)
            parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string joined(const std::vector<std::string_view>& parts)
{
    if (parts.empty())
        return "/";
    std::string path;
    for (auto part : parts) {
        path += '/';
        path += part;
    }
    return path;
}

} // namespace

FileURL::FileURL(std::string absolutePath, bool isDirectory)
    : path_(withoutTrailingSlashes(std::move(absolutePath)))
    , isDirectory_(isDirectory)
{
    if (path_.empty() || path_.front() != '/')
        throw std::invalid_argument("A file URL needs an absolute path, not \"" + path_ + "\".");
}

std::string FileURL::lastComponent() const
{
    auto slash = path_.rfind('/');
    return path_.size() == 1 ? path_ : path_.substr(slash + 1);
}

FileURL FileURL::standardized() const
{
    std::vector<std::string_view> kept;
    for (auto part : components(path_)) {
        if (part == ".")
            continue;
        if (part == "..") {
            if (!kept.empty())
                kept.pop_back();
            continue;
        }
        kept.push_back(part);
    }
    return FileURL(joined(kept), isDirectory_);
}

FileURL FileURL::resolvingSymlinks() const
{
    // realpath needs an existing path, so resolve the longest prefix that
    // exists and append the rest as written.
    const auto lexical = standardized();
    auto parts = components(lexical.path());
    for (std::size_t existing = parts.size() + 1; existing-- > 0;) {
        std::vector<std::string_view> prefix(parts.begin(), parts.begin() + static_cast<std::ptrdiff_t>(existing));
        char resolved[PATH_MAX];
        if (::realpath(joined(prefix).c_str(), resolved) == nullptr)
            continue;
        std::string path = resolved;
        for (std::size_t i = existing; i < parts.size(); ++i) {
            if (path.back() != '/')
                path += '/';
            path += parts[i];
        }
        return FileURL(path, isDirectory_).standardized();
    }
    return lexical;
}

FileURL FileURL::appendingDirectory(std::string_view component) const
{
    return FileURL(appendingFile(component).path(), true);
}

FileURL FileURL::appendingFile(std::string_view component) const
{
    std::string path = path_;
    if (path.back() != '/')
        path += '/';
    path += component;
    return FileURL(std::move(path), false);
}

FileURL FileURL::deletingLastComponent() const
{
    auto slash = path_.rfind('/');
    if (path_.size() == 1)
        return *this;
    return FileURL(slash == 0 ? "/" : path_.substr(0, slash), true);
}

} // namespace quillmark::platform
