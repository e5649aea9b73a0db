#include "platform/seal/link_containment.hpp"

#include <map>
#include <string_view>

namespace quillmark::platform {
namespace {

// The kernel gives up after 40 links on one path; so do we.
constexpr int maximumLinkHops = 40;

using LinkTargets = std::map<std::string, std::string, std::less<>>;

std::string joined(const std::vector<std::string>& components)
{
    std::string path;
    for (const auto& component : components) {
        if (!path.empty())
            path += '/';
        path += component;
    }
    return path;
}

// Walks `target` from `folder` (components below the bundle), updating
// `folder` to where it leads. False when it leaves the bundle.
bool resolveInside(const LinkTargets& links, std::vector<std::string>& folder, std::string_view target, int& hops)
{
    if (target.starts_with('/'))
        return false;
    while (!target.empty()) {
        auto slash = target.find('/');
        auto component = target.substr(0, slash);
        target = slash == std::string_view::npos ? std::string_view {} : target.substr(slash + 1);
        if (component.empty() || component == ".")
            continue;
        if (component == "..") {
            if (folder.empty())
                return false;
            folder.pop_back();
            continue;
        }
        folder.emplace_back(component);
        auto link = links.find(joined(folder));
        if (link == links.end())
            continue;
        if (++hops > maximumLinkHops)
            return false;
        folder.pop_back();
        if (!resolveInside(links, folder, link->second, hops))
            return false;
    }
    return true;
}

} // namespace

std::optional<std::string> firstEscapingLink(const std::vector<BundleItem>& items)
{
    LinkTargets links;
    for (const auto& item : items) {
        if (item.kind == BundleItemKind::link)
            links.emplace(item.path, item.linkTarget);
    }
    for (const auto& [path, target] : links) {
        std::vector<std::string> folder;
        std::string_view parent = path;
        auto slash = parent.rfind('/');
        parent = slash == std::string_view::npos ? std::string_view {} : parent.substr(0, slash);
        while (!parent.empty()) {
            auto next = parent.find('/');
            folder.emplace_back(parent.substr(0, next));
            parent = next == std::string_view::npos ? std::string_view {} : parent.substr(next + 1);
        }
        int hops = 0;
        if (!resolveInside(links, folder, target, hops))
            return path;
    }
    return std::nullopt;
}

} // namespace quillmark::platform
