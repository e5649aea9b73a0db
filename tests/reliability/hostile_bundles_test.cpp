// Bundles made the way an attacker would make them. Each must end in a clear
// refusal or in an exact installation, at every stage that reads a bundle
// (inspection, verification, installation), without hanging, crashing or
// touching anything outside the bundle.

#include "engine/installer_engine.hpp"
#include "platform/error.hpp"
#include "tests/reliability/hostile_attack.hpp"
#include "tests/support/bundle_builder.hpp"
#include "tests/support/raw_binary_property_list.hpp"
#include "tests/support/sealing.hpp"
#include "tests/support/temporary_folder.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <iostream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace quillmark {
namespace {

namespace fs = std::filesystem;
using testing::accepted;
using testing::BundleBuilder;
using testing::HostileCase;
using testing::makeFolder;
using testing::makeLink;
using testing::RawBinaryPropertyList;
using testing::writeFile;

constexpr const char* notTheViewer = "This application is not a valid Quillmark viewer bundle.";
constexpr const char* executableMessage = "The Quillmark application executable is missing or invalid.";
constexpr const char* integrityCheck = "The application failed its integrity check: ";

// The keys of a valid viewer as XML dictionary entries.
std::string viewerKeysXml()
{
    return "<key>CFBundleIdentifier</key><string>app.quillmark.viewer</string>"
           "<key>CFBundlePackageType</key><string>APPL</string>"
           "<key>CFBundleExecutable</key><string>Quillmark</string>"
           "<key>CFBundleShortVersionString</key><string>2.4</string>"
           "<key>CFBundleVersion</key><string>241</string>";
}

std::string xmlWithExtra(const std::string& extraEntries)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" + viewerKeysXml()
        + extraEntries + "</dict></plist>\n";
}

// A binary property list with the viewer's keys and one more key whose value
// `extra` builds (it may damage the list as it likes).
std::string binaryWithExtra(const std::function<std::size_t(RawBinaryPropertyList&)>& extra)
{
    RawBinaryPropertyList list;
    std::vector<std::pair<std::size_t, std::size_t>> entries;
    for (const auto& [key, value] : std::vector<std::pair<const char*, const char*>> {
             { "CFBundleIdentifier", "app.quillmark.viewer" }, { "CFBundlePackageType", "APPL" },
             { "CFBundleExecutable", "Quillmark" }, { "CFBundleShortVersionString", "2.4" },
             { "CFBundleVersion", "241" } })
        entries.emplace_back(list.ascii(key), list.ascii(value));
    auto extraKey = list.ascii("Extra");
    entries.emplace_back(extraKey, extra(list));
    return list.bytes(list.dictionary(entries));
}

platform::FileURL sealedViewer(const std::string& bundle)
{
    auto url = BundleBuilder().version("2.4").build("241").write(bundle);
    testing::sealBundle(url);
    return url;
}

platform::FileURL sealedWithInfo(const std::string& bundle, std::string info)
{
    auto url = BundleBuilder().rawInfo(std::move(info)).write(bundle);
    testing::sealBundle(url);
    return url;
}

void makeFifo(const std::string& path)
{
    if (::mkfifo(path.c_str(), 0644) != 0)
        throw std::runtime_error("Could not make a named pipe at " + path);
}

void makeSocket(const std::string& path)
{
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        throw std::runtime_error("The socket path is too long: " + path);
    std::copy(path.begin(), path.end(), address.sun_path);
    int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::close(fd);
    if (bound != 0)
        throw std::runtime_error("Could not make a socket at " + path);
}

// Replaces the link at `path` with one to `target`.
void retarget(const std::string& path, const std::string& target)
{
    fs::remove(path);
    makeLink(target, path);
}

std::vector<HostileCase> hostileCases()
{
    return {
        { "property list of 100 MB",
            [](const std::string& b, const std::string&) {
                sealedWithInfo(b, xmlWithExtra("<key>Padding</key><string>" + std::string(100 << 20, 'a') + "</string>"));
            },
            "because it is too large.", "because it is too large." },
        { "property list of 5 MB",
            [](const std::string& b, const std::string&) {
                sealedWithInfo(b, xmlWithExtra("<key>Padding</key><string>" + std::string(5 << 20, 'a') + "</string>"));
            },
            notTheViewer, notTheViewer },
        { "XML property list nested 10,000 levels",
            [](const std::string& b, const std::string&) {
                std::string deep;
                for (int i = 0; i < 10'000; ++i)
                    deep += "<array>";
                for (int i = 0; i < 10'000; ++i)
                    deep += "</array>";
                sealedWithInfo(b, xmlWithExtra("<key>Deep</key>" + deep));
            },
            "it is nested too deeply.", "it is nested too deeply." },
        { "binary property list nested 10,000 levels",
            [](const std::string& b, const std::string&) {
                sealedWithInfo(b, binaryWithExtra([](RawBinaryPropertyList& list) {
                    auto top = list.reserveArray(1);
                    auto above = top;
                    for (int i = 0; i < 10'000; ++i) {
                        auto next = list.reserveArray(1);
                        list.setItems(above, { next });
                        above = next;
                    }
                    list.setItems(above, {});
                    return top;
                }));
            },
            "it is nested too deeply.", "it is nested too deeply." },
        { "binary property list with an offset out of range",
            [](const std::string& b, const std::string&) {
                sealedWithInfo(b, binaryWithExtra([](RawBinaryPropertyList& list) {
                    auto value = list.ascii("x");
                    list.offsetOverrides[value] = 1ull << 40;
                    return value;
                }));
            },
            "an object's offset lies outside the data.", "an object's offset lies outside the data." },
        { "binary property list with a reference out of range",
            [](const std::string& b, const std::string&) {
                sealedWithInfo(b, binaryWithExtra([](RawBinaryPropertyList& list) { return list.array({ 100'000 }); }));
            },
            "a reference points past the last object.", "a reference points past the last object." },
        { "binary property list with a cycle",
            [](const std::string& b, const std::string&) {
                sealedWithInfo(b, binaryWithExtra([](RawBinaryPropertyList& list) {
                    auto first = list.reserveArray(1);
                    auto second = list.array({ first });
                    list.setItems(first, { second });
                    return first;
                }));
            },
            "an object contains itself.", "an object contains itself." },
        { "seal of 60 MB holding one dictionary of 2,200,000 keys",
            [](const std::string& b, const std::string&) {
                sealedViewer(b);
                std::string manifest = "<plist><dict><key>files</key><dict>";
                for (int i = 0; i < 2'200'000; ++i)
                    manifest += "<key>Contents/k" + std::to_string(i) + "</key><true/>";
                writeFile(b + "/Contents/_CodeSignature/Seal.plist", manifest + "</dict></dict></plist>");
            },
            accepted, "Seal.plist” is damaged or unreadable." },
        { "folders nested 1,000 deep",
            [](const std::string& b, const std::string&) {
                sealedViewer(b);
                std::string path = b + "/Contents/Resources";
                for (int i = 0; i < 1'000; ++i)
                    path += "/d";
                fs::create_directories(path);
            },
            accepted, "is nested too deeply to be read." },
        { "file names with a newline and bytes that are not UTF-8",
            [](const std::string& b, const std::string&) {
                auto url = BundleBuilder().version("2.4").build("241").write(b);
                writeFile(b + "/Contents/Resources/two\nlines.txt", "newline\n");
                writeFile(b + "/Contents/Resources/caf\xE9-\xFF.txt", "latin-1\n");
                testing::sealBundle(url);
            },
            accepted, accepted },
        { "hard links",
            [](const std::string& b, const std::string&) {
                auto url = BundleBuilder().version("2.4").build("241").write(b);
                fs::create_hard_link(b + "/Contents/Resources/About.txt", b + "/Contents/Resources/Same.txt");
                fs::create_hard_link(b + "/Contents/MacOS/Quillmark", b + "/Contents/MacOS/Helper");
                testing::sealBundle(url);
            },
            accepted, accepted },
        { "named pipe inside",
            [](const std::string& b, const std::string&) {
                sealedViewer(b);
                makeFifo(b + "/Contents/Resources/pipe");
            },
            accepted, "is a named pipe, which an application may not contain." },
        { "named pipe in place of the property list",
            [](const std::string& b, const std::string&) {
                sealedViewer(b);
                fs::remove(b + "/Contents/Info.plist");
                makeFifo(b + "/Contents/Info.plist");
            },
            "because it is not a regular file.", "because it is not a regular file." },
        { "socket inside",
            [](const std::string& b, const std::string&) {
                sealedViewer(b);
                makeSocket(b + "/Contents/Resources/s");
            },
            accepted, "which an application may not contain." },
        { "link that leaves the bundle by an absolute path",
            [](const std::string& b, const std::string& outside) {
                BundleBuilder().version("2.4").build("241").write(b);
                makeLink("About.txt", b + "/Contents/Resources/Current");
                testing::sealBundle(platform::FileURL(b, true));
                retarget(b + "/Contents/Resources/Current", outside + "/secret.txt");
            },
            accepted, "leads outside the application." },
        { "link that climbs out of the bundle",
            [](const std::string& b, const std::string& outside) {
                BundleBuilder().version("2.4").build("241").write(b);
                makeLink("About.txt", b + "/Contents/Resources/Current");
                testing::sealBundle(platform::FileURL(b, true));
                retarget(b + "/Contents/Resources/Current", "../../../" + fs::path(outside).filename().string() + "/secret.txt");
            },
            accepted, "leads outside the application." },
        { "links that loop",
            [](const std::string& b, const std::string&) {
                BundleBuilder().version("2.4").build("241").write(b);
                makeLink("About.txt", b + "/Contents/Resources/loop-a");
                makeLink("About.txt", b + "/Contents/Resources/loop-b");
                testing::sealBundle(platform::FileURL(b, true));
                retarget(b + "/Contents/Resources/loop-a", "loop-b");
                retarget(b + "/Contents/Resources/loop-b", "loop-a");
            },
            accepted, "leads outside the application." },
        { "property list that is a link to itself",
            [](const std::string& b, const std::string&) {
                sealedViewer(b);
                retarget(b + "/Contents/Info.plist", "Info.plist");
            },
            notTheViewer, notTheViewer },
        { "contents folder that is a link out of the bundle",
            [](const std::string& b, const std::string& outside) {
                sealedViewer(b);
                fs::remove_all(b + "/Contents");
                makeLink(outside + "/Contents", b + "/Contents");
            },
            notTheViewer, notTheViewer },
        { "executable folder that is a link out of the bundle",
            [](const std::string& b, const std::string& outside) {
                sealedViewer(b);
                fs::remove_all(b + "/Contents/MacOS");
                makeLink(outside + "/Contents/MacOS", b + "/Contents/MacOS");
            },
            accepted, executableMessage },
        { "executable that is a link",
            [](const std::string& b, const std::string&) {
                auto url = BundleBuilder().version("2.4").build("241").write(b);
                fs::rename(b + "/Contents/MacOS/Quillmark", b + "/Contents/MacOS/Real");
                makeLink("Real", b + "/Contents/MacOS/Quillmark");
                testing::sealBundle(url);
            },
            accepted, executableMessage },
        { "executable that is a folder",
            [](const std::string& b, const std::string&) {
                auto url = BundleBuilder().version("2.4").build("241").withoutExecutable().write(b);
                makeFolder(b + "/Contents/MacOS/Quillmark");
                testing::sealBundle(url);
            },
            accepted, executableMessage },
    };
}

TEST(HostileBundlesTest, EachIsRefusedClearlyOrInstalledExactly)
{
    testing::TemporaryFolder folder;
    testing::Tally tally;
    auto cases = hostileCases();
    for (std::size_t i = 0; i < cases.size(); ++i)
        testing::attack(cases[i], static_cast<int>(i), folder, tally);
    std::cout << "Hostile bundles: " << tally.cases << " cases, " << tally.refused << " refused, " << tally.installed
              << " installed exactly.\n";
}

} // namespace
} // namespace quillmark
