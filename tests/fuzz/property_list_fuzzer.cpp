// Feeds arbitrary bytes to bundle inspection as a bundle's Contents/Info.plist:
// the property-list parser (XML and binary) and every check made on what it
// returns. Any outcome but a crash, a leak or a hang is acceptable; the
// harness only insists that refusals are the errors the caller expects.

#include "engine/installer_engine.hpp"
#include "platform/error.hpp"
#include "tests/fuzz/fuzz_bundle.hpp"

#include <cstdint>
#include <cstdlib>

namespace {

struct Fixture {
    quillmark::fuzzing::FuzzFolder folder;
    std::string bundle = folder.path() + "/Quillmark.app";
    quillmark::InstallerEngine engine { { quillmark::platform::FileURL(folder.path(), true) } };
};

Fixture& fixture()
{
    static Fixture shared;
    return shared;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto& f = fixture();
    quillmark::fuzzing::replaceFile(f.bundle + "/Contents/Info.plist",
        std::string_view(reinterpret_cast<const char*>(data), size));
    try {
        auto identity = f.engine.metadata(quillmark::platform::FileURL(f.bundle, true));
        // An accepted bundle always has a version and a build.
        if (identity.version.empty() || identity.build.empty() || identity.releaseVersion.empty())
            std::abort();
    } catch (const quillmark::InstallerFailure&) {
    } catch (const quillmark::platform::Error&) {
    }
    return 0;
}
