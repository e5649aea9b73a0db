// A bundle far larger than any real one, but still a bundle: it must be
// installed exactly. Slow enough that it runs in the default preset only.

#include "tests/reliability/hostile_attack.hpp"
#include "tests/support/bundle_builder.hpp"
#include "tests/support/sealing.hpp"

#include <gtest/gtest.h>

#include <iostream>

namespace quillmark {
namespace {

using testing::accepted;
using testing::BundleBuilder;

TEST(HostileBundlesTest, HundredThousandSmallFilesAreInstalledExactly)
{
    testing::TemporaryFolder folder;
    testing::Tally tally;
    testing::HostileCase many { "100,000 small files",
        [](const std::string& b, const std::string&) {
            auto url = BundleBuilder().version("2.4").build("241").write(b);
            for (int group = 0; group < 1'000; ++group) {
                std::string groupFolder = b + "/Contents/Resources/many/" + std::to_string(group);
                testing::makeFolder(groupFolder);
                for (int file = 0; file < 100; ++file)
                    testing::writeFile(groupFolder + "/" + std::to_string(file), std::to_string(group * 100 + file));
            }
            testing::sealBundle(url);
        },
        accepted, accepted };
    testing::attack(many, 0, folder, tally);
    EXPECT_EQ(tally.installed, 1);
    std::cout << "Hostile bundles: " << tally.cases << " case, " << tally.refused << " refused, " << tally.installed
              << " installed exactly.\n";
}

} // namespace
} // namespace quillmark
