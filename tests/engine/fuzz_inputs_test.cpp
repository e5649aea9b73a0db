// Replays every committed fuzzing input through bundle inspection: the seed
// corpus and the inputs that once crashed a harness. Each must end in an
// identity or in an error the caller handles, never in a crash.

#include "engine/installer_engine.hpp"
#include "platform/error.hpp"
#include "tests/support/temporary_folder.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>

namespace quillmark {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> inputsIn(const fs::path& folder)
{
    std::vector<fs::path> inputs;
    for (const auto& entry : fs::directory_iterator(folder))
        inputs.push_back(entry.path());
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

std::string inspect(const InstallerEngine& engine, const platform::FileURL& bundle)
{
    try {
        auto identity = engine.metadata(bundle);
        return "identity " + identity.version + " " + identity.build;
    } catch (const InstallerFailure& failure) {
        return failure.message();
    } catch (const platform::Error& error) {
        return error.description();
    }
}

TEST(FuzzInputsTest, PropertyListInputsEndInAnIdentityOrAnError)
{
    const fs::path root = fs::path(QUILLMARK_SOURCE_DIR) / "tests/fuzz";
    testing::TemporaryFolder folder;
    InstallerEngine engine { { folder.url() } };
    auto bundle = platform::FileURL(folder.path("Quillmark.app"), true);

    std::map<std::string, std::string> outcomes;
    for (const auto& kind : { "corpus", "regressions" }) {
        for (const auto& input : inputsIn(root / kind / "property_list")) {
            testing::writeFile(folder.path("Quillmark.app/Contents/Info.plist"), testing::readFile(input.string()));
            outcomes[std::string(kind) + "/" + input.filename().string()] = inspect(engine, bundle);
        }
    }
    EXPECT_EQ(outcomes["corpus/valid.xml"], "identity 2.4 241");
    EXPECT_EQ(outcomes["corpus/valid.bplist"], "identity 2.4 241");
    EXPECT_EQ(outcomes["regressions/dictionary-key-with-nul.bplist"],
        "The data is not a valid property list: a dictionary key holds a NUL character.");
    for (const auto& [input, outcome] : outcomes)
        std::cout << input << ": " << outcome << "\n";
}

} // namespace
} // namespace quillmark
