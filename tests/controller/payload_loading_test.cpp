#include "tests/controller/installer_harness.hpp"

#include "platform/error.hpp"

namespace quillmark::testing {
namespace {

constexpr const char* notReadOnly = "Open this installer from its mounted disk image. Keep Quillmark.app beside the "
                                    "installer; the source disk stays read only.";
constexpr const char* mismatch = "The Quillmark application does not match this installer. Use the application "
                                 "supplied on the same disk image.";

TEST(PayloadLoadingTest, AVerifiedPayloadShowsItsReleaseAndFillsTheList)
{
    InstallerHarness harness(FakeDesktop::Background::byHand, installerInformation("2.4.0-rc.1+7", "2.4", "241"));
    harness.engine->verify = [](const platform::FileURL&) { return identity("2.4.0-rc.1+7", "241.0"); };
    harness.engine->setLocations({ newLocation(systemRoot), newLocation(userRoot) });
    harness.installer->applicationDidFinishLaunching();
    harness.expectState(State::loading);
    harness.settle();

    harness.expectState(State::ready);
    EXPECT_EQ(harness.title().text, "Quillmark 2.4.0-rc.1+7") << "the release version, not the short version";
    EXPECT_EQ(harness.description().text,
        "Install this version or update an existing copy. Your documents, saved appearance and preferences are "
        "retained.\nVersion 2.4.0-rc.1+7 (build 241.0) \u00B7 Offline installer");
    EXPECT_EQ(harness.destinations().items.size(), 2u);
    EXPECT_EQ(harness.status().text, "Destination: /Applications/Quillmark.app");
}

struct RefusalCase {
    const char* name;
    bool readOnly;
    std::exception_ptr volumeError;
    std::optional<InstalledIdentity> verified; // absent: verification refuses
    platform::BundleInformation own;
    std::optional<std::string> expectedText; // absent: the payload is accepted
    bool verificationReached;
};

std::vector<RefusalCase> refusalCases()
{
    auto volumeFailure = std::make_exception_ptr(platform::fileError(EACCES, platform::FileAccess::reading,
        "find the volume of", payloadBundle.path()));
    return {
        { "WritableVolume", false, nullptr, payloadIdentity(), installerInformation(), notReadOnly, false },
        { "UnreadableVolume", true, volumeFailure, payloadIdentity(), installerInformation(),
            std::string("Could not find the volume of \u201C/Volumes/Quillmark 2.4/Quillmark.app\u201D because you don't have permission."),
            false },
        { "RefusedByVerification", true, nullptr, std::nullopt, installerInformation(),
            std::string("The application is missing, is a link, or is not an application folder."), true },
        { "OtherRelease", true, nullptr, identity("2.5.0", "241"), installerInformation(), mismatch, true },
        { "OtherBuild", true, nullptr, identity("2.4.0", "242"), installerInformation(), mismatch, true },
        { "BuildWrittenDifferently", true, nullptr, identity("2.4.0", "241.0"), installerInformation(), std::nullopt, true },
        { "ReleaseWrittenDifferently", true, nullptr, identity("2.4", "241"), installerInformation(), std::nullopt, true },
        { "NoOwnReleaseFallsBackToShortVersion", true, nullptr, identity("2.4", "241"),
            installerInformation(std::nullopt, "2.4", "241"), std::nullopt, true },
        { "NoOwnReleaseAndAnotherShortVersion", true, nullptr, identity("2.4.0", "241"),
            installerInformation(std::nullopt, "2.3", "241"), mismatch, true },
        { "NoOwnKeysAtAll", true, nullptr, identity("2.4.0", "241"),
            installerInformation(std::nullopt, std::nullopt, std::nullopt), mismatch, true },
    };
}

class PayloadRefusalTest : public ::testing::TestWithParam<RefusalCase> { };

TEST_P(PayloadRefusalTest, ShowsWhyAndOffersToChoose)
{
    const auto& row = GetParam();
    InstallerHarness harness(FakeDesktop::Background::byHand, row.own);
    harness.engine->setLocations({ newLocation(systemRoot), newLocation(userRoot) });
    harness.volumeAnswer = [&](const platform::FileURL& bundle) {
        EXPECT_EQ(bundle.path(), payloadBundle.path());
        if (row.volumeError)
            std::rethrow_exception(row.volumeError);
        return row.readOnly;
    };
    harness.engine->verify = [&](const platform::FileURL&) -> InstalledIdentity {
        if (!row.verified)
            throw InstallerFailure("The application is missing, is a link, or is not an application folder.");
        return *row.verified;
    };
    harness.installer->applicationDidFinishLaunching();
    harness.settle();

    EXPECT_EQ(harness.engine->verifications > 0, row.verificationReached);
    if (!row.expectedText) {
        harness.expectState(State::ready);
        return;
    }
    harness.expectState(State::unavailable);
    EXPECT_EQ(harness.status().text, *row.expectedText);
    EXPECT_EQ(harness.title().text, "Install or Update Quillmark");
    EXPECT_EQ(harness.description().text, "Checking the application on this disk\u2026");
    EXPECT_TRUE(harness.destinations().items.empty());
    EXPECT_EQ(harness.secondary().title, "Cancel");
}

INSTANTIATE_TEST_SUITE_P(EveryRefusal, PayloadRefusalTest, ::testing::ValuesIn(refusalCases()),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PayloadLoadingTest, ChoosingAnotherBundleOpensThePanelOnTheVolumes)
{
    InstallerHarness harness;
    harness.becomeUnavailable(std::make_exception_ptr(InstallerFailure("refused")));
    harness.installer->installOrOpen();

    auto shown = harness.desktop.unansweredPanel();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->panel.title, "Choose the Quillmark App on the Installer Disk");
    EXPECT_EQ(shown->panel.message, "Select Quillmark.app from the same mounted disk image. It will be checked before installation.");
    EXPECT_TRUE(shown->panel.initialFolder.isDirectory());
    harness.expectState(State::unavailable);
}

TEST(PayloadLoadingTest, APanelWithoutAChoiceChangesNothing)
{
    struct Answer {
        long response;
        std::optional<platform::FileURL> chosen;
    };
    for (const auto& answer : { Answer { platform::modalResponseCancel, std::nullopt },
             Answer { platform::modalResponseCancel, platform::FileURL("/Volumes/Other/Quillmark.app", true) },
             Answer { platform::modalResponseOK, std::nullopt } }) {
        InstallerHarness harness;
        harness.becomeUnavailable(std::make_exception_ptr(InstallerFailure("refused")));
        harness.installer->installOrOpen();
        harness.desktop.answerPanel(answer.response, answer.chosen);
        EXPECT_EQ(harness.desktop.pendingBackgroundTasks(), 0u);
        harness.expectState(State::unavailable);
        EXPECT_EQ(harness.status().text, "refused");
    }
}

TEST(PayloadLoadingTest, AChosenBundleIsCheckedLikeTheOneBesideTheInstaller)
{
    const platform::FileURL chosen("/Volumes/Other/Quillmark.app", true);
    for (bool accepted : { true, false }) {
        SCOPED_TRACE(accepted ? "accepted" : "refused");
        InstallerHarness harness;
        harness.engine->setLocations({ newLocation(systemRoot), installedLocation(userRoot, "2.3.0", "230") });
        harness.becomeUnavailable(std::make_exception_ptr(InstallerFailure("first refusal")));
        harness.installer->installOrOpen();
        harness.engine->verify = [&](const platform::FileURL& bundle) -> InstalledIdentity {
            EXPECT_EQ(bundle, chosen);
            if (!accepted)
                throw InstallerFailure("second refusal");
            return identity("2.4.0", "241", bundle);
        };
        harness.desktop.answerPanel(platform::modalResponseOK, chosen);
        harness.expectState(State::loading);
        EXPECT_EQ(harness.status().text, "first refusal") << "the old text stays until the outcome";

        harness.settle();
        if (accepted) {
            harness.expectState(State::ready);
            EXPECT_EQ(harness.destinations().selected, 1);
            EXPECT_EQ(harness.status().text, "Destination: /home/tester/Applications/Quillmark.app");
            EXPECT_EQ(harness.installer->payload()->url, chosen);
        } else {
            harness.expectState(State::unavailable);
            EXPECT_EQ(harness.status().text, "second refusal");
        }
    }
}

} // namespace
} // namespace quillmark::testing
