// What the window offers for a previous copy that an interrupted
// installation kept: put it back where nothing is installed, or remove it
// where a copy is; nothing at all when nothing was kept.

#include "tests/controller/installer_harness.hpp"

#include "platform/desktop/desktop.hpp"

namespace quillmark::testing {
namespace {

const platform::FileURL keptStaging("/Applications/.Quillmark-install-0F8E2A4C-1B3D-4E5F-8A9B-0C1D2E3F4A5B", true);
const std::string keptPath = keptStaging.path() + "/Previous Quillmark.app";

KeptCopy keptCopy(bool destinationEmpty, const platform::FileURL& root = systemRoot,
    const platform::FileURL& staging = keptStaging)
{
    return { root, staging, identity("2.3.0", "230", platform::FileURL(staging.path() + "/Previous Quillmark.app", true)),
        destinationEmpty };
}

TEST(KeptCopyOfferTest, NothingKeptAsksNothing)
{
    InstallerHarness harness;
    harness.becomeReady({ installedLocation(systemRoot, "2.3.0", "230"), newLocation(userRoot) });

    EXPECT_EQ(harness.engine->keptLookups, 1);
    EXPECT_TRUE(harness.desktop.alerts.empty());
    EXPECT_EQ(harness.status().text, "Destination: /Applications/Quillmark.app");
}

struct OfferCase {
    const char* name;
    bool destinationEmpty;
    long answer;
    const char* message;
    const char* informativeEnd;
    const char* firstButton;
    const char* statusAfter;
    int restores;
    int removals;
};

void PrintTo(const OfferCase& row, std::ostream* stream)
{
    *stream << row.name;
}

const std::string interrupted = "An earlier installation in /Applications was interrupted. Your previous copy, "
                                "Quillmark 2.3.0 (build 230), is kept at "
    + keptPath + ".";

class KeptCopyOfferTableTest : public ::testing::TestWithParam<OfferCase> { };

TEST_P(KeptCopyOfferTableTest, OffersWhatFitsAndDoesWhatWasChosen)
{
    const auto& row = GetParam();
    InstallerHarness harness;
    harness.engine->setKeptCopies({ keptCopy(row.destinationEmpty) });
    harness.becomeReady({ row.destinationEmpty ? newLocation(systemRoot) : installedLocation(systemRoot, "2.4.0", "241"),
        newLocation(userRoot) });

    auto shown = harness.desktop.unansweredAlert();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->alert.message, row.message);
    EXPECT_EQ(shown->alert.informativeText, interrupted + row.informativeEnd);
    EXPECT_EQ(shown->alert.buttons, (std::vector<std::string> { row.firstButton, "Cancel" }));
    if (row.destinationEmpty)
        harness.engine->restoreScript = [&](const KeptCopy&) { harness.engine->setLocations({ installedLocation(systemRoot, "2.3.0", "230"), newLocation(userRoot) }); };

    harness.desktop.answerAlert(row.answer);
    if (row.answer == platform::alertFirstButtonReturn) {
        EXPECT_TRUE(harness.installer->committing()) << "no Cancel while a copy moves";
        EXPECT_FALSE(harness.secondary().enabled);
    }
    harness.settle();

    harness.expectState(State::ready);
    EXPECT_EQ(harness.status().text, row.statusAfter);
    EXPECT_EQ(harness.engine->restores, row.restores);
    EXPECT_EQ(harness.engine->removals, row.removals);
    EXPECT_FALSE(harness.desktop.unansweredAlert());
    EXPECT_TRUE(harness.installer->keptCopies().empty());
}

INSTANTIATE_TEST_SUITE_P(Offers, KeptCopyOfferTableTest,
    ::testing::Values(
        OfferCase { "PutBack", true, platform::alertFirstButtonReturn, "Put back your previous Quillmark?",
            " No copy is installed there now. Putting it back restores it as it was.", "Put Back Previous Copy",
            "Your previous copy, Quillmark 2.3.0 (build 230), is back at /Applications/Quillmark.app.", 1, 0 },
        OfferCase { "NotPutBack", true, platform::alertFirstButtonReturn + 1, "Put back your previous Quillmark?",
            " No copy is installed there now. Putting it back restores it as it was.", "Put Back Previous Copy",
            "Your previous copy, Quillmark 2.3.0 (build 230), stays at /Applications/.Quillmark-install-0F8E2A4C-1B3D-"
            "4E5F-8A9B-0C1D2E3F4A5B/Previous Quillmark.app.",
            0, 0 },
        OfferCase { "Remove", false, platform::alertFirstButtonReturn, "Remove the kept copy of Quillmark?",
            " Quillmark is installed there, so the kept copy is no longer needed. You can remove it, or leave it where it is.",
            "Remove Kept Copy", "The kept copy of Quillmark 2.3.0 (build 230) was removed.", 0, 1 },
        OfferCase { "LeaveIt", false, platform::alertFirstButtonReturn + 1, "Remove the kept copy of Quillmark?",
            " Quillmark is installed there, so the kept copy is no longer needed. You can remove it, or leave it where it is.",
            "Remove Kept Copy",
            "Your previous copy, Quillmark 2.3.0 (build 230), stays at /Applications/.Quillmark-install-0F8E2A4C-1B3D-"
            "4E5F-8A9B-0C1D2E3F4A5B/Previous Quillmark.app.",
            0, 0 }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KeptCopyOfferTest, APutBackCopyIsListedAndUpdatedLikeAnyInstalledCopy)
{
    InstallerHarness harness;
    harness.engine->setKeptCopies({ keptCopy(true) });
    harness.becomeReady({ newLocation(systemRoot), newLocation(userRoot) });
    harness.engine->restoreScript = [&](const KeptCopy&) {
        harness.engine->setLocations({ installedLocation(systemRoot, "2.3.0", "230"), newLocation(userRoot) });
    };

    harness.desktop.answerAlert(platform::alertFirstButtonReturn);
    harness.settle();

    EXPECT_EQ(harness.destinations().selectedIndex(), 0);
    EXPECT_EQ(harness.primary().title, "Update Quillmark");
}

TEST(KeptCopyOfferTest, AFailureIsShownAndTheCopyStaysKept)
{
    InstallerHarness harness;
    harness.engine->setKeptCopies({ keptCopy(true) });
    harness.engine->restoreScript = [](const KeptCopy&) {
        throw InstallerFailure("The destination was occupied before the previous copy could be restored.");
    };
    harness.becomeReady({ newLocation(systemRoot), newLocation(userRoot) });

    harness.desktop.answerAlert(platform::alertFirstButtonReturn);
    harness.settle();

    harness.expectState(State::ready);
    EXPECT_EQ(harness.status().text, "The destination was occupied before the previous copy could be restored.");
    EXPECT_EQ(harness.engine->keptCopies().size(), 1u);
}

// A payload this installer cannot use takes nothing from the offer: the
// kept copy may be all the person has.
TEST(KeptCopyOfferTest, IsOfferedEvenWhenThePayloadIsRefused)
{
    InstallerHarness harness;
    harness.engine->setKeptCopies({ keptCopy(true) });
    harness.becomeUnavailable(std::make_exception_ptr(InstallerFailure("The payload is damaged.")));

    auto shown = harness.desktop.unansweredAlert();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->alert.message, "Put back your previous Quillmark?");
    EXPECT_EQ(harness.status().text, "The payload is damaged.");

    harness.desktop.answerAlert(platform::alertFirstButtonReturn);
    harness.settle();

    harness.expectState(State::unavailable);
    EXPECT_EQ(harness.engine->restores, 1);
}

TEST(KeptCopyOfferTest, EachKeptCopyIsOfferedInTurn)
{
    InstallerHarness harness;
    const platform::FileURL otherStaging("/home/tester/Applications/.Quillmark-install-11111111-2222-3333-4444-555555555555", true);
    harness.engine->setKeptCopies({ keptCopy(false), keptCopy(true, userRoot, otherStaging) });
    harness.becomeReady({ installedLocation(systemRoot, "2.4.0", "241"), newLocation(userRoot) });

    EXPECT_EQ(harness.desktop.unansweredAlert()->alert.message, "Remove the kept copy of Quillmark?");
    harness.desktop.answerAlert(platform::alertFirstButtonReturn + 1);
    ASSERT_TRUE(harness.desktop.unansweredAlert());
    EXPECT_EQ(harness.desktop.unansweredAlert()->alert.message, "Put back your previous Quillmark?");
    harness.desktop.answerAlert(platform::alertFirstButtonReturn);
    harness.settle();

    EXPECT_EQ(harness.engine->removals, 0);
    EXPECT_EQ(harness.engine->restores, 1);
    EXPECT_FALSE(harness.desktop.unansweredAlert());
}

TEST(KeptCopyOfferTest, AQuitWaitsUntilTheCopyHasMoved)
{
    InstallerHarness harness;
    harness.engine->setKeptCopies({ keptCopy(true) });
    harness.becomeReady({ newLocation(systemRoot), newLocation(userRoot) });
    harness.desktop.answerAlert(platform::alertFirstButtonReturn);

    EXPECT_EQ(harness.installer->applicationShouldTerminate(), platform::TerminateReply::cancel);
    EXPECT_FALSE(harness.desktop.terminated);
    harness.settle();

    EXPECT_EQ(harness.engine->restores, 1);
    EXPECT_TRUE(harness.desktop.terminated);
}

} // namespace
} // namespace quillmark::testing
