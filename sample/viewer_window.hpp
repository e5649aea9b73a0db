#pragma once

#include <QWidget>

namespace quillmark::sample {

// The viewer's one window: its name and version, and the text of the
// document it was given, read-only.
class ViewerWindow : public QWidget {
public:
    explicit ViewerWindow(const QString& documentPath);
};

} // namespace quillmark::sample
