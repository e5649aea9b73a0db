// The record a person can show when they ask for help: each installation's
// steps with their times, and its outcome with where each copy is.

#include "tests/transaction/install_fixture.hpp"

#include "platform/files/append_only_file.hpp"
#include "tests/support/temporary_folder.hpp"

#include <filesystem>
#include <regex>
#include <sstream>

namespace quillmark::testing {
namespace {

namespace fs = std::filesystem;

class InstallationRecordTest : public InstallFixture {
protected:
    void recordTo(const std::string& path, std::uint64_t limit = 1 << 20)
    {
        InstallServices services;
        services.record = std::make_shared<platform::AppendOnlyFile>(platform::FileURL(path), limit);
        engine = std::make_unique<InstallerEngine>(std::vector { root }, files, services);
    }

    // The steps of the record without their times and tags.
    static std::vector<std::string> steps(const std::string& path)
    {
        static const std::regex line(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} UTC  [0-9A-F]{8}  \+\d+\.\d{3} s  (.*)$)");
        std::vector<std::string> found;
        std::istringstream text(readFile(path));
        for (std::string each; std::getline(text, each);) {
            std::smatch parts;
            EXPECT_TRUE(std::regex_match(each, parts, line)) << "not a record line: " << each;
            found.push_back(parts.size() > 1 ? parts[1].str() : each);
        }
        return found;
    }

    std::string recordPath() const { return folder.path("state/quillmark-installer/installations.log"); }
};

TEST_F(InstallationRecordTest, ASuccessfulUpdateIsRecordedStepByStep)
{
    recordTo(recordPath());
    installPrevious();

    install();

    ASSERT_TRUE(result) << errorText();
    auto lines = steps(recordPath());
    ASSERT_GE(lines.size(), 8u);
    EXPECT_EQ(lines.front(), "installation of Quillmark 2.4.0 (build 241) from " + payload.url.path() + " to "
            + destination.path() + ", replacing Quillmark 2.3.0 (build 230)");
    EXPECT_EQ(lines[1], "locked " + root.path() + "/.Quillmark.install.lock");
    EXPECT_TRUE(lines[2].starts_with("space needed ")) << lines[2];
    auto staging = std::find_if(lines.begin(), lines.end(), [](const auto& l) { return l.starts_with("copying into "); });
    ASSERT_NE(staging, lines.end());
    auto backup = staging->substr(13, staging->size() - 13 - std::string("Quillmark.app").size()) + "Previous Quillmark.app";
    std::vector<std::string> commit(lines.end() - 4, lines.end());
    EXPECT_EQ(commit, (std::vector<std::string> { "previous copy moved to " + backup, "new copy moved to " + destination.path(),
                          "copy in place verified",
                          "succeeded: Quillmark 2.4.0 (build 241) at " + destination.path() + "; previous copy removed" }));
    EXPECT_EQ(fs::status(recordPath()).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(InstallationRecordTest, AFailureIsRecordedWithWhereEachCopyIs)
{
    recordTo(recordPath());
    installPrevious();
    callbacks.afterReplace = [this] { tamperWith(destination); };

    install();

    ASSERT_TRUE(error);
    auto lines = steps(recordPath());
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 2], "previous copy put back at " + destination.path());
    EXPECT_EQ(lines.back(),
        "failed: " + errorText() + " At " + destination.path() + ": Quillmark 2.3.0 (build 230)");
}

TEST_F(InstallationRecordTest, AFailedUndoRecordsTheKeptStagingFolder)
{
    recordTo(recordPath());
    installPrevious();
    callbacks.afterReplace = [this] { tamperWith(destination); };
    files->fail(FileOperation::removeItem, pathIs(destination.path()), EACCES);

    install();

    ASSERT_TRUE(error);
    EXPECT_TRUE(steps(recordPath()).back().ends_with(
        "At " + destination.path() + ": Quillmark 2.4.0 (build 241); staging folder kept at " + keptStaging()))
        << steps(recordPath()).back();
}

// The record is the person's help, never the installation's master.
TEST_F(InstallationRecordTest, ARecordThatCannotBeWrittenChangesNothing)
{
    writeFile(folder.path("state"), "a file where the folder should be\n");
    recordTo(recordPath());
    installPrevious();

    install();

    ASSERT_TRUE(result) << errorText();
    EXPECT_FALSE(result->warning);
    EXPECT_EQ(buildAt(destination.path()), "241");
    EXPECT_FALSE(fs::exists(recordPath()));
}

TEST_F(InstallationRecordTest, AFullRecordIsMovedAsideBeforeTheNextInstallation)
{
    const std::string old(8192, 'o');
    writeFile(recordPath(), old);
    recordTo(recordPath(), 8192);

    install();

    ASSERT_TRUE(result) << errorText();
    EXPECT_EQ(readFile(recordPath() + ".1"), old);
    EXPECT_TRUE(steps(recordPath()).front().starts_with("installation of ")) << "the new record begins afresh";

    install();

    EXPECT_EQ(readFile(recordPath() + ".1"), old) << "a record under its limit is not moved aside";
}

} // namespace
} // namespace quillmark::testing
