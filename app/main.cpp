// Process entry: the application object first, then the installer as its
// delegate, then the event loop. The window is built once launching has
// finished, by the delegate.

#include "controller/installation_roots.hpp"
#include "controller/installer_backend.hpp"
#include "controller/quillmark_installer.hpp"
#include "engine/installer_engine.hpp"
#include "platform/plist/bundle_information.hpp"
#include "platform/files/file_manager.hpp"
#include "platform/qt/display_connection.hpp"
#include "platform/qt/qt_application.hpp"
#include "platform/desktop/desktop_registration.hpp"
#include "platform/desktop/login_manager_inhibitor.hpp"
#include "platform/files/append_only_file.hpp"
#include "platform/desktop/system_workspace.hpp"
#include "platform/files/volume_information.hpp"

#include <QtGlobal>

#include <cstdio>
#include <exception>
#include <memory>

namespace {

// The record of installations stays small enough to attach to a message.
constexpr std::uint64_t recordLimit = 1024 * 1024;

// Without a home folder to keep it in, installations go unrecorded.
std::shared_ptr<const quillmark::platform::AppendOnlyFile> installationRecord()
{
    try {
        auto file = quillmark::platform::userStateFolder()
                        .appendingDirectory("quillmark-installer")
                        .appendingFile("installations.log");
        return std::make_shared<quillmark::platform::AppendOnlyFile>(file, recordLimit);
    } catch (const std::exception&) {
        return nullptr;
    }
}

// The installer writes no log and no debug output; the toolkit's notes about
// its own set-up are not for the user. Only its critical reports remain.
void keepOnlyCriticalToolkitMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

} // namespace

int main(int /*argc*/, char** argv)
{
    using namespace quillmark;

    // The toolkit aborts the process when it finds no display; the user is
    // told why instead.
    if (auto why = platform::qt::whyNoDisplayOpens()) {
        std::fprintf(stderr, "The Quillmark installer could not start: %s\n", why->c_str());
        return 1;
    }
    qInstallMessageHandler(keepOnlyCriticalToolkitMessages);

    // What fails before the window exists (the installer's own bundle
    // unreadable, the quit signals not handled) has no window to be shown
    // in; it is said once on standard error instead.
    try {
        platform::qt::QtApplication application(argv[0]);
        platform::SystemWorkspace workspace;

        QuillmarkInstaller delegate(InstallerEnvironment {
            .controls = application.controls(),
            .desktop = application.desktop(),
            .workspace = workspace,
            .queues = application.queues(),
            .ownBundle = platform::ownBundleInformation(),
            .makeEngine =
                [] {
                    auto manager = platform::systemFileManager();
                    InstallServices services {
                        .record = installationRecord(),
                        .inhibitor = std::make_shared<platform::LoginManagerInhibitor>(),
                    };
                    return engineBackend(
                        std::make_shared<InstallerEngine>(installationRoots(*manager), manager, std::move(services)));
                },
            .volumeIsReadOnly = [](const platform::FileURL& url) { return platform::volumeIsReadOnly(url); },
            .registerInstalled = [](const platform::FileURL& application) { platform::registerWithDesktop(application); },
        });
        application.setDelegate(delegate);
        return application.run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "The Quillmark installer could not start: %s\n", error.what());
        return 1;
    }
}
