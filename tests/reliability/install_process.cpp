// One installer process for the tests that kill installations or run
// several at once: it reviews the root as the installer would, then installs
// the payload there through the real engine.
//
//   install_process PAYLOAD ROOT [--kill-before N | --kill-after N] [--start-when-exists PATH] [--record FILE]
//   install_process PAYLOAD ROOT --kept list|restore|remove
//
// Every file operation of the installation is counted; with --kill-before N
// the process sends itself SIGKILL just before the N-th, with --kill-after N
// just after it. --start-when-exists makes the process wait, once it has
// reviewed the root, until PATH exists, so that several processes can be
// released at the same moment. --record appends the installation's record
// to FILE. It prints "outcome: installed" or
// "outcome: " and the message of the error, then "operations: " and the
// count, and exits with 0 when it installed and 1 when it did not.
//
// With --kept it installs nothing: it prints, for each previous copy that an
// interrupted installation kept in the root, "kept: " followed by its build
// and "empty" or "installed" for what the destination holds, and with
// restore or remove then does that to each, printing "outcome: done" or
// "outcome: " and the message of the error.

#include "engine/installer_engine.hpp"
#include "platform/files/append_only_file.hpp"
#include "tests/support/faulty_file_manager.hpp"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <thread>

namespace {

using quillmark::testing::FileOperation;

constexpr FileOperation everyOperation[] = {
    FileOperation::attributesOfItem,
    FileOperation::holdItem,
    FileOperation::contentsOfDirectory,
    FileOperation::fileExists,
    FileOperation::isExecutableFile,
    FileOperation::createDirectory,
    FileOperation::copyItem,
    FileOperation::moveItem,
    FileOperation::removeItem,
    FileOperation::synchronize,
};

int usage()
{
    std::cerr << "usage: install_process PAYLOAD ROOT [--kill-before N | --kill-after N] [--start-when-exists PATH] "
                 "[--record FILE]\n       install_process PAYLOAD ROOT --kept list|restore|remove\n";
    return 2;
}

int actOnKeptCopies(const quillmark::InstallerEngine& engine, const std::string& action)
{
    if (action != "list" && action != "restore" && action != "remove")
        return usage();
    std::string outcome = "done";
    try {
        for (const auto& kept : engine.keptCopies()) {
            std::cout << "kept: " << kept.previous.build << " " << (kept.destinationEmpty ? "empty" : "installed") << "\n";
            if (action == "restore")
                engine.restoreKeptCopy(kept);
            else if (action == "remove")
                engine.removeKeptCopy(kept);
        }
    } catch (const std::exception& error) {
        outcome = error.what();
    }
    std::cout << "outcome: " << outcome << std::endl;
    return outcome == "done" ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return usage();
    const std::string payloadPath = argv[1];
    const std::string rootPath = argv[2];
    int killBefore = 0;
    int killAfter = 0;
    std::string startSignal;
    std::string keptAction;
    std::string recordFile;
    for (int i = 3; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        if (option == "--kill-before")
            killBefore = std::atoi(argv[i + 1]);
        else if (option == "--kill-after")
            killAfter = std::atoi(argv[i + 1]);
        else if (option == "--start-when-exists")
            startSignal = argv[i + 1];
        else if (option == "--record")
            recordFile = argv[i + 1];
        else if (option == "--kept")
            keptAction = argv[i + 1];
        else
            return usage();
    }

    auto files = std::make_shared<quillmark::testing::FaultyFileManager>();
    quillmark::InstallServices services;
    if (!recordFile.empty())
        services.record = std::make_shared<quillmark::platform::AppendOnlyFile>(
            quillmark::platform::FileURL(recordFile), 1024 * 1024);
    quillmark::InstallerEngine engine({ quillmark::platform::FileURL(rootPath, true) }, files, services);
    if (!keptAction.empty())
        return actOnKeptCopies(engine, keptAction);
    std::string outcome = "installed";
    int operations = 0;
    bool counting = false;
    try {
        auto payload = engine.verifiedPayload(quillmark::platform::FileURL(payloadPath, true));
        auto location = engine.locations().at(0);
        if (!startSignal.empty()) {
            struct stat status {};
            while (::stat(startSignal.c_str(), &status) != 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }

        auto any = [](const std::string&) { return true; };
        for (auto operation : everyOperation) {
            files->before(operation, any, [&] {
                if (counting && ++operations == killBefore)
                    std::raise(SIGKILL);
            });
            files->after(operation, any, [&] {
                if (counting && operations == killAfter)
                    std::raise(SIGKILL);
            });
        }
        quillmark::InstallCallbacks callbacks { [] { return false; }, [] {}, [](std::string_view) {}, {}, {} };
        counting = true;
        engine.install(payload, location, callbacks);
    } catch (const std::exception& error) {
        outcome = error.what();
    }
    counting = false;
    std::cout << "outcome: " << outcome << "\noperations: " << operations << std::endl;
    return outcome == "installed" ? 0 : 1;
}
