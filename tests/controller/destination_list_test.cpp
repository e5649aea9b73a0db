#include "tests/controller/installer_harness.hpp"

namespace quillmark::testing {
namespace {

constexpr const char* linkConflict = "This installation location contains a symbolic link. Choose another location.";
constexpr const char* multiplePrefix = "Multiple copies were found. Select the copy you want to change.\n";
constexpr const char* reinstallText = "This version and build are already installed. Reinstall replaces the application "
                                      "while retaining your settings.";
constexpr const char* olderText = "The installed copy is newer than this installer. Continuing requires confirmation "
                                  "before installing an older version.";

struct ListCase {
    const char* name;
    std::vector<InstallerLocation> locations;
    std::optional<int> pick; // an item the user picks after the first refresh
    std::vector<std::string> items;
    int selected;
    std::string primaryTitle;
    bool primaryEnabled;
    std::string status;
};

std::vector<ListCase> listCases()
{
    return {
        { "NothingInstalled", { newLocation(systemRoot), newLocation(userRoot) }, std::nullopt,
            { "/Applications \u00B7 New installation", "/home/tester/Applications \u00B7 New installation" }, 0,
            "Install Quillmark", true, "Destination: /Applications/Quillmark.app" },
        { "OnlyTheUserFolderHoldsACopy", { newLocation(systemRoot), installedLocation(userRoot, "2.3.0", "230") }, std::nullopt,
            { "/Applications \u00B7 New installation", "/home/tester/Applications \u00B7 2.3.0 (build 230)" }, 1,
            "Update Quillmark", true, "Destination: /home/tester/Applications/Quillmark.app" },
        { "CopiesInBoth", { installedLocation(systemRoot, "2.3.0", "230"), installedLocation(userRoot, "2.4.0", "241") },
            std::nullopt, { "/Applications \u00B7 2.3.0 (build 230)", "/home/tester/Applications \u00B7 2.4.0 (build 241)" }, 0,
            "Update Quillmark", true, std::string(multiplePrefix) + "Destination: /Applications/Quillmark.app" },
        { "CopiesInBothSecondPicked", { installedLocation(systemRoot, "2.3.0", "230"), installedLocation(userRoot, "2.4.0", "241") },
            1, { "/Applications \u00B7 2.3.0 (build 230)", "/home/tester/Applications \u00B7 2.4.0 (build 241)" }, 1,
            "Reinstall / Repair", true, std::string(multiplePrefix) + reinstallText },
        { "SameReleaseAndBuild", { installedLocation(systemRoot, "2.4.0", "241"), newLocation(userRoot) }, std::nullopt,
            { "/Applications \u00B7 2.4.0 (build 241)", "/home/tester/Applications \u00B7 New installation" }, 0,
            "Reinstall / Repair", true, reinstallText },
        { "NewerCopyInstalled", { installedLocation(systemRoot, "2.10.0", "300"), newLocation(userRoot) }, std::nullopt,
            { "/Applications \u00B7 2.10.0 (build 300)", "/home/tester/Applications \u00B7 New installation" }, 0,
            "Install Older Version Quillmark", true, olderText },
        { "NewerBuildOfTheSameRelease", { newLocation(systemRoot), installedLocation(userRoot, "2.4.0", "242") }, std::nullopt,
            { "/Applications \u00B7 New installation", "/home/tester/Applications \u00B7 2.4.0 (build 242)" }, 1,
            "Install Older Version Quillmark", true, olderText },
        { "ConflictSelected", { conflictLocation(systemRoot, linkConflict), newLocation(userRoot) }, std::nullopt,
            { "/Applications \u00B7 New installation", "/home/tester/Applications \u00B7 New installation" }, 0,
            "Install Quillmark", false, linkConflict },
        { "ConflictBesideTwoCopiesShowsNoPrefix",
            { conflictLocation(systemRoot, linkConflict), installedLocation(userRoot, "2.3.0", "230"),
                installedLocation(platform::FileURL("/opt/Applications", true), "2.3.0", "230") },
            0,
            { "/Applications \u00B7 New installation", "/home/tester/Applications \u00B7 2.3.0 (build 230)",
                "/opt/Applications \u00B7 2.3.0 (build 230)" },
            0, "Install Quillmark", false, linkConflict },
        { "ConflictPickedAfterAnInstalledCopy", { installedLocation(systemRoot, "2.3.0", "230"), conflictLocation(userRoot, linkConflict) },
            1, { "/Applications \u00B7 2.3.0 (build 230)", "/home/tester/Applications \u00B7 New installation" }, 1,
            "Install Quillmark", false, linkConflict },
    };
}

class DestinationListTest : public ::testing::TestWithParam<ListCase> { };

TEST_P(DestinationListTest, OffersWhatInstallingAtTheSelectionMeans)
{
    const auto& row = GetParam();
    InstallerHarness harness;
    harness.becomeReady(row.locations);
    if (row.pick) {
        harness.destinations().selectItem(*row.pick);
        harness.installer->locationChanged();
    }
    EXPECT_EQ(harness.destinations().items, row.items);
    EXPECT_EQ(harness.destinations().selected, row.selected);
    EXPECT_EQ(harness.primary().title, row.primaryTitle);
    EXPECT_EQ(harness.primary().enabled, row.primaryEnabled);
    EXPECT_EQ(harness.status().text, row.status);
    EXPECT_TRUE(harness.destinations().enabled);
    EXPECT_TRUE(harness.secondary().enabled);
    EXPECT_EQ(harness.installer->choices().size(), row.locations.size());
}

INSTANTIATE_TEST_SUITE_P(EveryOffer, DestinationListTest, ::testing::ValuesIn(listCases()),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DestinationListTest, ARequestedRootWinsOverTheInstalledCopy)
{
    struct Case {
        std::optional<platform::FileURL> select;
        int selected;
    };
    for (const auto& row : { Case { userRoot, 1 }, Case { systemRoot, 0 },
             Case { platform::FileURL("/nowhere/Applications", true), 0 }, Case { std::nullopt, 0 } }) {
        InstallerHarness harness;
        harness.becomeReady({ installedLocation(systemRoot, "2.3.0", "230"), newLocation(userRoot) });
        harness.installer->refreshLocations(row.select);
        EXPECT_EQ(harness.destinations().selected, row.selected) << (row.select ? row.select->path() : "no request");
    }
}

TEST(DestinationListTest, IsReadAgainOnEveryRefresh)
{
    InstallerHarness harness;
    harness.becomeReady({ newLocation(systemRoot), newLocation(userRoot) });
    harness.engine->setLocations({ newLocation(systemRoot), installedLocation(userRoot, "2.4.0", "241") });
    harness.installer->refreshLocations(std::nullopt);
    EXPECT_EQ(harness.engine->locationReads, 2);
    EXPECT_EQ(harness.destinations().items.size(), 2u);
    EXPECT_EQ(harness.destinations().items[1], "/home/tester/Applications \u00B7 2.4.0 (build 241)");
    EXPECT_EQ(harness.primary().title, "Reinstall / Repair");
}

TEST(DestinationListTest, ASelectionChangeWhileBusyChangesNothing)
{
    InstallerHarness harness;
    harness.becomeReady({ newLocation(systemRoot), installedLocation(userRoot, "2.4.0", "241") });
    harness.destinations().selectItem(0);
    harness.installer->locationChanged();
    harness.startInstall();
    harness.destinations().selectItem(1);
    harness.installer->locationChanged();
    EXPECT_EQ(harness.primary().title, "Install Quillmark");
    EXPECT_FALSE(harness.primary().enabled);
    EXPECT_EQ(harness.status().text, "Copying and verifying Quillmark\u2026 You can cancel before replacement begins.");
}

TEST(DestinationListTest, NoSelectionLeavesTheControlsAsTheyWere)
{
    InstallerHarness harness;
    harness.becomeReady({ newLocation(systemRoot), newLocation(userRoot) });
    harness.destinations().selectItem(-1);
    harness.primary().title = "unchanged";
    harness.installer->locationChanged();
    harness.installer->installOrOpen();
    EXPECT_EQ(harness.primary().title, "unchanged");
    EXPECT_EQ(harness.status().text, "Destination: /Applications/Quillmark.app");
    harness.expectState(State::ready);
}

} // namespace
} // namespace quillmark::testing
