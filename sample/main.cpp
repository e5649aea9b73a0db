// Quillmark, the sample viewer that the installer installs in demos and tests.

#include "sample/quit_on_signal.hpp"
#include "sample/quit_policy.hpp"
#include "sample/viewer_window.hpp"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>

#include <cstdlib>
#include <memory>

namespace {

// Qt's widget platforms need a display, or an explicit choice such as
// "offscreen"; without either the viewer still runs, as a plain event loop.
bool hasDisplay()
{
    for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" }) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0')
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    // The window class and the desktop entry's name the desktop matches the
    // viewer's windows with; the installer's entry names the same.
    QCoreApplication::setApplicationName(QStringLiteral("Quillmark"));
    auto policy = quillmark::sample::quitPolicyFromEnvironment();
    int quitSignals = quillmark::sample::holdQuitSignals(policy);

    if (!hasDisplay()) {
        QCoreApplication application(argc, argv);
        quillmark::sample::quitEventLoopOnSignal(quitSignals, policy);
        return application.exec();
    }
    QApplication application(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("app.quillmark.viewer"));
    quillmark::sample::quitEventLoopOnSignal(quitSignals, policy);
    auto arguments = QCoreApplication::arguments();
    quillmark::sample::ViewerWindow window(arguments.size() > 1 ? arguments.at(1) : QString());
    window.show();
    return application.exec();
}
