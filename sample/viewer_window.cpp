#include "sample/viewer_window.hpp"

#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace quillmark::sample {
namespace {

QString documentText(const QString& path)
{
    if (path.isEmpty())
        return QStringLiteral("Open a document by passing its path to Quillmark.");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QStringLiteral("The document \u201C%1\u201D could not be opened: %2").arg(path, file.errorString());
    // A viewer, not an editor: a large file is shown in part.
    return QString::fromUtf8(file.read(1024 * 1024));
}

} // namespace

ViewerWindow::ViewerWindow(const QString& documentPath)
{
    setWindowTitle(QStringLiteral("Quillmark"));
    auto* layout = new QVBoxLayout(this);
    auto* heading = new QLabel(QStringLiteral("Quillmark %1 (%2)").arg(QUILLMARK_VERSION, QUILLMARK_BUILD), this);
    heading->setAccessibleName(QStringLiteral("Version"));
    auto* document = new QPlainTextEdit(documentText(documentPath), this);
    document->setReadOnly(true);
    document->setAccessibleName(QStringLiteral("Document"));
    layout->addWidget(heading);
    layout->addWidget(document);
    resize(480, 320);
}

} // namespace quillmark::sample
