#include "platform/qt/sheets.hpp"

#include "platform/qt/display_text.hpp"
#include "platform/files/volume_information.hpp"

#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace quillmark::platform::qt {
namespace {

constexpr const char* cancelTitle = "Cancel";

// A file dialog in which an application bundle, a folder on this system, is
// the one thing that can be chosen; every other folder can only be opened.
class BundleOpenPanel final : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

protected:
    void accept() override
    {
        const QStringList chosen = selectedFiles();
        if (chosen.size() == 1 && chosen.front().endsWith(QLatin1String(".app")) && QFileInfo(chosen.front()).isDir()) {
            QFileDialog::accept();
            return;
        }
        if (chosen.size() == 1 && QFileInfo(chosen.front()).isDir())
            setDirectory(chosen.front());
    }
};

QString startFolder(const FileURL& wanted)
{
    // Where the wanted folder does not exist on this system, removable
    // volumes appear elsewhere.
    if (QFileInfo(toQString(wanted.path())).isDir())
        return toQString(wanted.path());
    return toQString(volumesFolder().path());
}

} // namespace

QDialog* showAlertSheet(QWidget* window, const AlertDescription& alert, std::function<void(long response)> completion)
{
    auto* box = new QMessageBox(window);
    box->setWindowModality(Qt::WindowModal);
    box->setAttribute(Qt::WA_DeleteOnClose, false);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(window ? window->windowTitle() : QString());
    // Assistive technologies name the sheet by its question, not by the
    // window it belongs to.
    box->setAccessibleName(toQString(alert.message));
    box->setAccessibleDescription(toQString(alert.informativeText));
    box->setTextFormat(Qt::PlainText);
    box->setText(toQString(alert.message));
    box->setInformativeText(toQString(alert.informativeText));
    // Sentences of the system are shown as written, never read as markup.
    if (auto* informative = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setTextFormat(Qt::PlainText);

    std::vector<QAbstractButton*> buttons;
    QAbstractButton* escape = nullptr;
    for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
        auto role = i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole;
        QPushButton* button = box->addButton(buttonTitle(alert.buttons[i]), role);
        if (i == 0)
            box->setDefaultButton(button);
        if (alert.buttons[i] == cancelTitle)
            escape = button;
        buttons.push_back(button);
    }
    if (!escape && !buttons.empty())
        escape = buttons.back();
    box->setEscapeButton(escape);

    QObject::connect(box, &QMessageBox::finished, box, [box, buttons, escape, completion = std::move(completion)] {
        auto answerOf = [&buttons](const QAbstractButton* button) -> std::optional<long> {
            for (std::size_t i = 0; i < buttons.size(); ++i) {
                if (buttons[i] == button)
                    return alertFirstButtonReturn + static_cast<long>(i);
            }
            return std::nullopt;
        };
        // A sheet closed without one of its own buttons answers as Cancel
        // did: never as the first button, which goes ahead.
        long response = answerOf(escape).value_or(modalResponseCancel);
        if (auto pressed = answerOf(box->clickedButton()))
            response = *pressed;
        box->deleteLater();
        if (completion)
            completion(response);
    });
    box->open();
    return box;
}

QDialog* showBundleOpenPanel(QWidget* window, const OpenPanelDescription& panel,
    std::function<void(long response, std::optional<FileURL> chosen)> completion)
{
    auto* dialog = new BundleOpenPanel(window, toQString(panel.title), startFolder(panel.initialFolder));
    dialog->setWindowModality(Qt::WindowModal);
    // Qt's own dialog, because only it lets a bundle folder be chosen as a whole.
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setLabelText(QFileDialog::Accept, QStringLiteral("Choose"));

    if (auto* grid = qobject_cast<QGridLayout*>(dialog->layout())) {
        auto* message = new QLabel(toQString(panel.message));
        message->setTextFormat(Qt::PlainText);
        message->setWordWrap(true);
        grid->addWidget(message, grid->rowCount(), 0, 1, grid->columnCount());
    }

    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, completion = std::move(completion)](int result) {
        std::optional<FileURL> chosen;
        const QStringList files = dialog->selectedFiles();
        if (result == QDialog::Accepted && files.size() == 1)
            chosen = FileURL(files.front().toStdString(), true);
        dialog->deleteLater();
        if (completion)
            completion(result == QDialog::Accepted ? modalResponseOK : modalResponseCancel, chosen);
    });
    dialog->open();
    return dialog;
}

} // namespace quillmark::platform::qt
