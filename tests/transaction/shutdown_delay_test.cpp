// Shutdown and suspend are held off from the first move of the commit until
// the swap is on the disk, through the login manager (a stand-in on a private
// bus here), and the lock is let go on every way out.

#include "tests/transaction/install_fixture.hpp"

#include "platform/desktop/login_manager_inhibitor.hpp"
#include "platform/files/append_only_file.hpp"
#include "tests/support/login_manager/private_login_manager.hpp"
#include "tests/support/temporary_folder.hpp"

namespace quillmark::testing {
namespace {

using Events = std::vector<std::string>;

const std::string taken = "taken shutdown:sleep|Quillmark installer|Replacing Quillmark|delay";

struct PathCase {
    const char* name;
    bool update;
    // Sets the fault; a tampering right after the second move is given as `tamper`.
    std::function<void(InstallFixture&)> arrange;
    bool tamper;
    bool succeeds;
    // Whether the way out passes the first move, where the lock is taken.
    bool reachesTheMoves;
};

void PrintTo(const PathCase& row, std::ostream* stream)
{
    *stream << row.name;
}

class ShutdownDelayTest : public InstallFixture, public ::testing::WithParamInterface<PathCase> {
protected:
    void useServices(const std::string& busAddress)
    {
        InstallServices services;
        services.record = std::make_shared<platform::AppendOnlyFile>(platform::FileURL(folder.path("record.log")), 1 << 20);
        services.inhibitor = std::make_shared<platform::LoginManagerInhibitor>(busAddress);
        engine = std::make_unique<InstallerEngine>(std::vector { root }, files, services);
    }
};

TEST_P(ShutdownDelayTest, IsHeldWhileTheCopiesMoveAndLetGoOnEveryWayOut)
{
    const auto& row = GetParam();
    std::string whyNot;
    makeFolder(folder.path("bus"));
    auto manager = PrivateLoginManager::start(folder.path("bus"), PrivateLoginManager::Answer::grant, whyNot);
    if (!manager)
        GTEST_SKIP() << whyNot;
    useServices(manager->address());
    if (row.update)
        installPrevious();
    Events beforeTheMoves;
    callbacks.beforeCommit = [&] { beforeTheMoves = manager->events(); };
    Events whileReplacing;
    callbacks.afterReplace = [&] {
        whileReplacing = manager->events();
        if (row.tamper)
            tamperWith(destination);
    };
    row.arrange(*this);

    install();

    EXPECT_EQ(result.has_value(), row.succeeds) << errorText();
    if (!row.reachesTheMoves) {
        EXPECT_EQ(manager->events(), Events { "ready" });
        return;
    }
    EXPECT_EQ(beforeTheMoves, Events { "ready" });
    if (row.tamper || row.succeeds) {
        EXPECT_EQ(whileReplacing, (Events { "ready", taken }));
    }
    ASSERT_TRUE(manager->waitForEvents(3)) << "the lock was never let go";
    EXPECT_EQ(manager->events(), (Events { "ready", taken, "released" }));
    auto record = readFile(folder.path("record.log"));
    EXPECT_NE(record.find("shutdown and sleep held off"), std::string::npos) << record;
    EXPECT_NE(record.find("shutdown and sleep allowed again"), std::string::npos) << record;
}

INSTANTIATE_TEST_SUITE_P(Paths, ShutdownDelayTest,
    ::testing::Values(PathCase { "UpdateSucceeds", true, [](auto&) {}, false, true, true },
        PathCase { "NewInstallationSucceeds", false, [](auto&) {}, false, true, true },
        PathCase { "VerificationFailsAndThePreviousCopyGoesBack", true, [](auto&) {}, true, false, true },
        PathCase { "RecoveryCannotFinish", true,
            [](auto& t) { t.files->fail(FileOperation::removeItem, pathIs(t.destination.path()), EACCES); }, true,
            false, true },
        PathCase { "TheFirstMoveFails", true,
            [](auto& t) { t.files->fail(FileOperation::moveItem, pathIs(t.destination.path()), EACCES); }, false,
            false, true },
        PathCase { "CancelledBeforeTheMoves", true, [](auto& t) { t.cancelOnCall = 3; }, false, false, false }),
    [](const auto& info) { return std::string(info.param.name); });

// Without a login manager the replacement goes on, unshielded, and the
// record says so.
TEST_F(InstallFixture, WithoutALoginManagerTheInstallationGoesOnAndTheRecordSaysSo)
{
    InstallServices services;
    services.record = std::make_shared<platform::AppendOnlyFile>(platform::FileURL(folder.path("record.log")), 1 << 20);
    services.inhibitor = std::make_shared<platform::LoginManagerInhibitor>("unix:path=" + folder.path("no-bus-here"));
    engine = std::make_unique<InstallerEngine>(std::vector { root }, files, services);
    installPrevious();

    install();

    ASSERT_TRUE(result) << errorText();
    auto record = readFile(folder.path("record.log"));
    EXPECT_NE(record.find("shutdown and sleep not held off: The login manager could not be asked to hold off shutdown: "),
        std::string::npos)
        << record;
}

} // namespace
} // namespace quillmark::testing
