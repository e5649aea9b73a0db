#include "engine/installer_engine.hpp"

#include <algorithm>
#include <vector>

namespace quillmark {
namespace {

// The non-empty pieces of `text` between separators.
std::vector<std::string_view> pieces(std::string_view text, char separator)
{
    std::vector<std::string_view> result;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(separator, start);
        if (end == std::string_view::npos)
            end = text.size();
        if (end > start)
            result.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return result;
}

// Splits at the first separator only, dropping empty pieces: at most two.
std::vector<std::string_view> firstSplit(std::string_view text, char separator)
{
    std::vector<std::string_view> result;
    auto at = text.find(separator);
    auto head = text.substr(0, at);
    if (!head.empty())
        result.push_back(head);
    if (at != std::string_view::npos && at + 1 < text.size())
        result.push_back(text.substr(at + 1));
    return result;
}

std::string_view withoutLeadingZeros(std::string_view piece)
{
    auto first = piece.find_first_not_of('0');
    return first == std::string_view::npos ? std::string_view() : piece.substr(first);
}

ComparisonResult ordered(bool aFirst)
{
    return aFirst ? ComparisonResult::ascending : ComparisonResult::descending;
}

bool isNumeric(std::string_view identifier)
{
    return std::all_of(identifier.begin(), identifier.end(), [](char c) { return c >= '0' && c <= '9'; });
}

struct ReleaseParts {
    std::optional<std::string_view> core;
    std::optional<std::string_view> preRelease;
};

ReleaseParts releaseParts(std::string_view release)
{
    auto withoutMetadata = firstSplit(release, '+');
    if (withoutMetadata.empty())
        return {};
    auto parts = firstSplit(withoutMetadata.front(), '-');
    if (parts.empty())
        return {};
    return ReleaseParts { parts[0], parts.size() > 1 ? std::optional(parts[1]) : std::nullopt };
}

ComparisonResult comparePreRelease(std::string_view a, std::string_view b)
{
    auto left = pieces(a, '.');
    auto right = pieces(b, '.');
    auto common = std::min(left.size(), right.size());
    for (std::size_t i = 0; i < common; ++i) {
        if (left[i] == right[i])
            continue;
        bool leftNumeric = isNumeric(left[i]);
        bool rightNumeric = isNumeric(right[i]);
        if (leftNumeric && rightNumeric) {
            auto order = InstallerEngine::compare(left[i], right[i]);
            if (order != ComparisonResult::same)
                return order;
            continue;
        }
        if (leftNumeric != rightNumeric)
            return ordered(leftNumeric);
        return ordered(left[i] < right[i]);
    }
    if (left.size() == right.size())
        return ComparisonResult::same;
    return ordered(left.size() < right.size());
}

} // namespace

ComparisonResult InstallerEngine::compare(std::string_view a, std::string_view b)
{
    auto left = pieces(a, '.');
    auto right = pieces(b, '.');
    auto count = std::max(left.size(), right.size());
    for (std::size_t i = 0; i < count; ++i) {
        auto leftPiece = withoutLeadingZeros(i < left.size() ? left[i] : "0");
        auto rightPiece = withoutLeadingZeros(i < right.size() ? right[i] : "0");
        if (leftPiece.size() != rightPiece.size())
            return ordered(leftPiece.size() < rightPiece.size());
        if (leftPiece != rightPiece)
            return ordered(leftPiece < rightPiece);
    }
    return ComparisonResult::same;
}

ComparisonResult InstallerEngine::compareRelease(std::string_view a, std::string_view b)
{
    auto left = releaseParts(a);
    auto right = releaseParts(b);
    // A text without a core is no release at all; it orders below every release.
    if (!left.core || !right.core) {
        if (left.core.has_value() == right.core.has_value())
            return ComparisonResult::same;
        return ordered(!left.core);
    }
    auto coreOrder = compare(*left.core, *right.core);
    if (coreOrder != ComparisonResult::same)
        return coreOrder;
    if (!left.preRelease && !right.preRelease)
        return ComparisonResult::same;
    if (!left.preRelease || !right.preRelease)
        return ordered(left.preRelease.has_value());
    return comparePreRelease(*left.preRelease, *right.preRelease);
}

InstallOperation InstallerEngine::operation(const InstalledIdentity& incoming, const std::optional<InstalledIdentity>& installed)
{
    if (!installed)
        return InstallOperation::newInstall;
    auto order = compareRelease(incoming.releaseVersion, installed->releaseVersion);
    if (order == ComparisonResult::same)
        order = compare(incoming.build, installed->build);
    switch (order) {
    case ComparisonResult::descending:
        return InstallOperation::update;
    case ComparisonResult::same:
        return InstallOperation::reinstall;
    case ComparisonResult::ascending:
        break;
    }
    return InstallOperation::olderVersion;
}

} // namespace quillmark
