#include "controller/quillmark_installer.hpp"

#include "controller/installer_texts.hpp"

#include <algorithm>

namespace quillmark {
namespace {

constexpr std::string_view multipleCopiesPrefix = "Multiple copies were found. Select the copy you want to change.\n";
constexpr std::string_view reinstallText = "This version and build are already installed. Reinstall replaces the "
                                           "application while retaining your settings.";
constexpr std::string_view olderVersionText = "The installed copy is newer than this installer. Continuing requires "
                                              "confirmation before installing an older version.";

std::string itemTitle(const InstallerLocation& location)
{
    if (location.existing)
        return location.root.path() + " \u00B7 " + location.existing->releaseVersion + " (build " + location.existing->build + ")";
    return location.root.path() + " \u00B7 New installation";
}

std::string primaryTitle(InstallOperation operation)
{
    switch (operation) {
    case InstallOperation::newInstall:
        break;
    case InstallOperation::update:
        return "Update Quillmark";
    case InstallOperation::reinstall:
        return "Reinstall / Repair";
    case InstallOperation::olderVersion:
        return "Install Older Version Quillmark";
    }
    return std::string(texts::installTitle);
}

} // namespace

void QuillmarkInstaller::refreshLocations(const std::optional<platform::FileURL>& select)
{
    choices_ = engine().locations();
    destinations_->removeAllItems();
    for (const auto& location : choices_)
        destinations_->addItem(itemTitle(location));

    auto chosen = choices_.end();
    if (select)
        chosen = std::find_if(choices_.begin(), choices_.end(), [&](const auto& location) { return location.root == *select; });
    if (chosen == choices_.end())
        chosen = std::find_if(choices_.begin(), choices_.end(), [](const auto& location) { return location.existing.has_value(); });
    auto index = chosen == choices_.end() ? 0 : static_cast<int>(chosen - choices_.begin());
    destinations_->selectItem(index);
    locationChanged();
}

std::optional<InstallerLocation> QuillmarkInstaller::selectedLocation() const
{
    int index = destinations_->selectedIndex();
    if (index < 0 || static_cast<size_t>(index) >= choices_.size())
        return std::nullopt;
    return choices_[static_cast<size_t>(index)];
}

void QuillmarkInstaller::locationChanged()
{
    if (busy_ || !payload_)
        return;
    auto location = selectedLocation();
    if (!location)
        return;
    auto operation = InstallerEngine::operation(*payload_, location->existing);
    primary_->setTitle(primaryTitle(operation));
    primary_->setEnabled(!location->conflict.has_value());

    if (location->conflict) {
        statusLabel_->setText(*location->conflict);
        return;
    }
    auto installedCopies = std::count_if(choices_.begin(), choices_.end(), [](const auto& entry) { return entry.existing.has_value(); });
    std::string text = installedCopies >= 2 ? std::string(multipleCopiesPrefix) : std::string();
    switch (operation) {
    case InstallOperation::reinstall:
        text += reinstallText;
        break;
    case InstallOperation::olderVersion:
        text += olderVersionText;
        break;
    case InstallOperation::newInstall:
    case InstallOperation::update:
        text += "Destination: " + location->root.appendingDirectory(texts::applicationFolder).path();
        break;
    }
    statusLabel_->setText(text);
}

} // namespace quillmark
