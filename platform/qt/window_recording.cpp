#include "platform/qt/window_recording.hpp"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QWidget>

#include <cstdlib>

namespace quillmark::platform::qt {
namespace {

QString oneLine(QString text)
{
    return text.remove(QChar(0x200B)).replace(QLatin1Char('\n'), QLatin1String("\\n")).replace(QLatin1Char('\t'), QLatin1Char(' '));
}

QString describeSheet(QWidget* sheet)
{
    if (!sheet || !sheet->isVisible())
        return {};
    if (auto* box = qobject_cast<QMessageBox*>(sheet)) {
        QStringList buttons;
        for (auto* button : box->buttons())
            buttons << button->text().replace(QLatin1String("&&"), QLatin1String("&"));
        return oneLine(box->text() + QLatin1String(" / ") + box->informativeText() + QLatin1String(" / ") + buttons.join(QLatin1String(" | ")));
    }
    return oneLine(sheet->windowTitle());
}

} // namespace

std::unique_ptr<WindowRecording> WindowRecording::fromEnvironment(QWidget& window, std::function<QString()> describe)
{
    const char* folder = std::getenv(environmentVariable);
    if (!folder || !*folder)
        return nullptr;
    return std::make_unique<WindowRecording>(QString::fromLocal8Bit(folder), window, std::move(describe));
}

WindowRecording::WindowRecording(QString folder, QWidget& window, std::function<QString()> describe)
    : folder_(std::move(folder))
    , window_(&window)
    , describe_(std::move(describe))
{
    QDir().mkpath(folder_);
}

void WindowRecording::changed()
{
    if (pending_)
        return;
    pending_ = true;
    // Queued behind the changes of this turn, and ahead of the next piece of
    // work the background hands to the main thread, so no state is skipped.
    QMetaObject::invokeMethod(&context_, [this] { capture(); }, Qt::QueuedConnection);
}

void WindowRecording::setSheet(QWidget* sheet)
{
    sheet_ = sheet;
    changed();
}

void WindowRecording::capture()
{
    pending_ = false;
    if (!window_)
        return;
    QString state = describe_();
    const QString sheet = describeSheet(sheet_);
    state += QLatin1String("\tsheet=") + sheet;
    if (state == lastState_)
        return;
    lastState_ = state;
    ++step_;

    // Layout is redone lazily; the picture must show the state just
    // described, laid out as it will be on screen.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QPixmap picture = window_->grab();
    if (sheet_ && sheet_->isVisible()) {
        QPainter painter(&picture);
        const QPoint offset = sheet_->mapToGlobal(QPoint(0, 0)) - window_->mapToGlobal(QPoint(0, 0));
        painter.fillRect(picture.rect(), QColor(0, 0, 0, 40));
        painter.drawPixmap(offset, sheet_->grab());
    }
    const QString name = QStringLiteral("step-%1.png").arg(step_, 2, 10, QLatin1Char('0'));
    picture.save(QDir(folder_).filePath(name), "PNG");

    QFile log(QDir(folder_).filePath(QStringLiteral("states.txt")));
    if (log.open(QIODevice::Append | QIODevice::Text)) {
        log.write(QStringLiteral("%1\t%2\n").arg(name, state).toUtf8());
        log.close();
    }
}

} // namespace quillmark::platform::qt
