#include "engine/installer_engine.hpp"

#include "tests/support/bundle_builder.hpp"
#include "tests/support/temporary_folder.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace quillmark {
namespace {

using testing::BundleBuilder;

constexpr const char* linkConflict = "This installation location contains a symbolic link. Choose another location.";
constexpr const char* occupiedConflict =
    "An unrecognized or damaged application already occupies this location. It will not be overwritten.";

class LocationsTest : public ::testing::Test {
protected:
    platform::FileURL root(std::string_view name) const { return platform::FileURL(folder.path(name), true); }

    testing::TemporaryFolder folder;
};

TEST_F(LocationsTest, ReportsEachRootInOrder)
{
    struct Case {
        const char* name;
        std::function<void(const std::string& root)> make;
        std::optional<std::string> conflict;
        bool hasCopy;
    };
    const Case cases[] = {
        { "empty root", [](const std::string& r) { testing::makeFolder(r); }, std::nullopt, false },
        { "missing root", [](const std::string&) {}, std::nullopt, false },
        { "valid copy", [](const std::string& r) { BundleBuilder().write(r + "/Quillmark.app"); }, std::nullopt, true },
        { "root is a link to a folder with a copy",
            [this](const std::string& r) {
                BundleBuilder().write(folder.path("elsewhere/Quillmark.app"));
                testing::makeLink(folder.path("elsewhere"), r);
            },
            linkConflict, false },
        { "bundle is a link",
            [this](const std::string& r) {
                BundleBuilder().write(folder.path("other/Quillmark.app"));
                testing::makeLink(folder.path("other/Quillmark.app"), r + "/Quillmark.app");
            },
            linkConflict, false },
        { "bundle is a dangling link", [](const std::string& r) { testing::makeLink("/nowhere", r + "/Quillmark.app"); }, linkConflict, false },
        { "bundle is a plain file", [](const std::string& r) { testing::writeFile(r + "/Quillmark.app", "x"); }, occupiedConflict, false },
        { "bundle without its property list", [](const std::string& r) { BundleBuilder().withoutInfo().write(r + "/Quillmark.app"); }, occupiedConflict, false },
        { "another application", [](const std::string& r) { BundleBuilder().set("CFBundleIdentifier", "org.example.other").write(r + "/Quillmark.app"); }, occupiedConflict, false },
        { "garbled property list", [](const std::string& r) { BundleBuilder().rawInfo("garbage").write(r + "/Quillmark.app"); }, occupiedConflict, false },
    };
    for (const auto& c : cases) {
        auto path = folder.path(c.name);
        c.make(path);
        auto other = root(std::string(c.name) + " (other)");
        InstallerEngine engine({ platform::FileURL(path, true), other });

        auto found = engine.locations();
        ASSERT_EQ(found.size(), 2u) << c.name;
        EXPECT_EQ(found[0].root, platform::FileURL(path, true)) << c.name;
        EXPECT_EQ(found[0].conflict, c.conflict) << c.name;
        EXPECT_EQ(found[0].existing.has_value(), c.hasCopy) << c.name;
        if (found[0].existing) {
            EXPECT_EQ(found[0].existing->url, platform::FileURL(path + "/Quillmark.app", true)) << c.name;
            EXPECT_EQ(found[0].existing->version, "2.0") << c.name;
        }
        EXPECT_EQ(found[1].root, other) << c.name;
        EXPECT_FALSE(found[1].existing || found[1].conflict) << c.name;
    }
}

TEST_F(LocationsTest, RootsAreStandardizedButNotDeduplicated)
{
    BundleBuilder().build("12").write(folder.path("Applications/Quillmark.app"));
    InstallerEngine engine({
        platform::FileURL(folder.path("Applications"), true),
        platform::FileURL(folder.path("x/../Applications/."), true),
    });
    ASSERT_EQ(engine.roots().size(), 2u);
    EXPECT_EQ(engine.roots()[1], platform::FileURL(folder.path("Applications"), true));

    auto found = engine.locations();
    ASSERT_EQ(found.size(), 2u);
    for (const auto& location : found) {
        EXPECT_EQ(location.root, engine.roots()[0]);
        ASSERT_TRUE(location.existing);
        EXPECT_EQ(location.existing->build, "12");
        EXPECT_FALSE(location.conflict);
    }
}

TEST_F(LocationsTest, LinksAboveTheRootAreFollowed)
{
    BundleBuilder().write(folder.path("real/Applications/Quillmark.app"));
    testing::makeLink(folder.path("real"), folder.path("home"));
    InstallerEngine engine({ platform::FileURL(folder.path("home/Applications"), true) });
    auto found = engine.locations();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_TRUE(found[0].existing);
    EXPECT_FALSE(found[0].conflict);
}

} // namespace
} // namespace quillmark
