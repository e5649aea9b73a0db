#include "tests/reliability/hostile_attack.hpp"

#include "engine/installer_engine.hpp"
#include "tests/support/access_watch.hpp"
#include "tests/support/bundle_builder.hpp"
#include "tests/support/lock_probe.hpp"
#include "tests/support/tree_snapshot.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace quillmark::testing {
namespace {

namespace fs = std::filesystem;

std::string outcomeOf(const std::function<void()>& stage)
{
    try {
        stage();
        return accepted;
    } catch (const std::exception& error) {
        return error.what();
    }
}

bool matches(const std::string& outcome, const std::string& expected)
{
    return expected == accepted ? outcome == accepted : outcome.find(expected) != std::string::npos;
}

std::vector<std::string> stagingFolders(const std::string& root)
{
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(root, ignored)) {
        if (entry.path().filename().string().starts_with(".Quillmark-install-"))
            names.push_back(entry.path().filename().string());
    }
    return names;
}

} // namespace

void attack(const HostileCase& hostile, int index, const TemporaryFolder& folder, Tally& tally)
{
    SCOPED_TRACE(hostile.name);
    const std::string work = folder.path("case-" + std::to_string(index));
    const std::string bundle = work + "/Volume/Quillmark.app";
    const std::string outside = work + "/Outside";
    const std::string root = work + "/Applications";
    makeFolder(work + "/Volume");
    BundleBuilder().version("2.4").build("241").write(outside);
    writeFile(outside + "/secret.txt", "not for the installer\n");
    hostile.make(bundle, outside);

    AccessWatch watch(outside);
    InstallerEngine engine { { platform::FileURL(root, true) } };
    const platform::FileURL url(bundle, true);

    auto inspection = outcomeOf([&] { engine.metadata(url); });
    EXPECT_TRUE(matches(inspection, hostile.inspection)) << "inspection: " << inspection;

    std::optional<InstalledIdentity> identity;
    auto verification = outcomeOf([&] { identity = engine.verifiedPayload(url); });
    EXPECT_TRUE(matches(verification, hostile.verification)) << "verification: " << verification;

    // A refused payload is offered as the identity the user would have
    // reviewed, so that the installation has to find the fault itself.
    auto payload = identity.value_or(InstalledIdentity { url, "2.4", "241", "2.4" });
    auto before = snapshotTree(bundle);
    InstallCallbacks callbacks { [] { return false; }, [] {}, [](std::string_view) {}, {}, {} };
    auto installation = outcomeOf([&] { engine.install(payload, engine.locations().at(0), callbacks); });
    EXPECT_EQ(installation, verification) << "installation";

    EXPECT_EQ(snapshotTree(bundle), before) << "the payload is left as it was";
    EXPECT_EQ(watch.accessed(), std::vector<std::string> {}) << "nothing outside the bundle is opened";
    EXPECT_EQ(stagingFolders(root), std::vector<std::string> {});
    if (fs::exists(root + "/.Quillmark.install.lock")) {
        EXPECT_TRUE(anotherProcessCanLock(root + "/.Quillmark.install.lock"));
    }

    ++tally.cases;
    if (installation == accepted) {
        ++tally.installed;
        EXPECT_EQ(snapshotTree(root + "/Quillmark.app"), before) << "installed exactly";
        EXPECT_EQ(outcomeOf([&] { engine.verifiedPayload(platform::FileURL(root + "/Quillmark.app", true)); }), accepted);
    } else {
        ++tally.refused;
        EXPECT_FALSE(fs::exists(fs::symlink_status(root + "/Quillmark.app"))) << "nothing is installed";
    }
}

} // namespace quillmark::testing
