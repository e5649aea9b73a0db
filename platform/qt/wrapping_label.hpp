#pragma once

#include <QLabel>

namespace quillmark::platform::qt {

// A multi-line label whose text stays exactly the text it was given, for
// assistive technologies and the clipboard alike, while long paths and
// tokens still wrap within its width: the break opportunities after each "/"
// and inside long runs exist only in what is painted.
//
// A label marked as the window's status line tells assistive technologies
// so; like every label, it announces each new text.
class WrappingLabel final : public QLabel {
public:
    WrappingLabel();

    void setStatusLine(bool statusLine) { statusLine_ = statusLine; }
    bool isStatusLine() const { return statusLine_; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int textFlags() const;

    bool statusLine_ = false;
};

} // namespace quillmark::platform::qt
