#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QWidget;

namespace quillmark::platform::qt {

// Records every state the window passes through: a picture of the window
// (with its sheet, when one is open) and one line describing its controls.
// The demo and the end-to-end test read the lines to know when to press a
// key, and show the pictures to people. Nothing is recorded unless the
// environment variable QUILLMARK_INSTALLER_RECORDING names a folder.
class WindowRecording {
public:
    static constexpr const char* environmentVariable = "QUILLMARK_INSTALLER_RECORDING";

    // `describe` tells the state of the window's controls in one line.
    static std::unique_ptr<WindowRecording> fromEnvironment(QWidget& window, std::function<QString()> describe);

    WindowRecording(QString folder, QWidget& window, std::function<QString()> describe);

    // The window or its sheet changed. Several changes made in one turn of
    // the event loop make one recorded state.
    void changed();
    void setSheet(QWidget* sheet);

private:
    void capture();

    QString folder_;
    QPointer<QWidget> window_;
    QPointer<QWidget> sheet_;
    std::function<QString()> describe_;
    QString lastState_;
    int step_ = 0;
    bool pending_ = false;
    QObject context_;
};

} // namespace quillmark::platform::qt
