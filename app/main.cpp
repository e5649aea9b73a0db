// Process entry: the application object first, then the installer as its
// delegate, then the event loop. The window is built once launching has
// finished, by the delegate.

#include "controller/installation_roots.hpp"
#include "controller/installer_backend.hpp"
#include "controller/quillmark_installer.hpp"
#include "engine/installer_engine.hpp"
#include "platform/bundle_information.hpp"
#include "platform/file_manager.hpp"
#include "platform/qt/qt_application.hpp"
#include "platform/system_workspace.hpp"
#include "platform/volume_information.hpp"

#include <memory>

int main(int /*argc*/, char** argv)
{
    using namespace quillmark;

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
                return engineBackend(std::make_shared<InstallerEngine>(installationRoots(*manager), manager));
            },
        .volumeIsReadOnly = [](const platform::FileURL& url) { return platform::volumeIsReadOnly(url); },
    });
    application.setDelegate(delegate);
    return application.run();
}
