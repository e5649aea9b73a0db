#include "platform/qt/wrapping_label.hpp"

#include "platform/qt/display_text.hpp"

#include <QAccessibleWidget>
#include <QPainter>
#include <QStyle>

#include <algorithm>

namespace quillmark::platform::qt {
namespace {

constexpr const char* statusLineDescription = "Installer status";

// What assistive technologies learn about a wrapping label: its exact text
// as its name, and, for the status line, that it is one and what it is for.
class WrappingLabelAccessible final : public QAccessibleWidget {
public:
    explicit WrappingLabelAccessible(WrappingLabel* label)
        : QAccessibleWidget(label, QAccessible::StaticText)
    {
    }

    QAccessible::Role role() const override
    {
        return label()->isStatusLine() ? QAccessible::StatusBar : QAccessible::StaticText;
    }

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name && label()->accessibleName().isEmpty())
            return label()->text();
        // The name changes with every status; what the view is stays said here.
        if (kind == QAccessible::Description && label()->isStatusLine() && label()->accessibleDescription().isEmpty())
            return QString::fromUtf8(statusLineDescription);
        return QAccessibleWidget::text(kind);
    }

private:
    WrappingLabel* label() const { return static_cast<WrappingLabel*>(widget()); }
};

QAccessibleInterface* makeAccessible(const QString&, QObject* object)
{
    if (auto* label = dynamic_cast<WrappingLabel*>(object))
        return new WrappingLabelAccessible(label);
    return nullptr;
}

} // namespace

WrappingLabel::WrappingLabel()
{
    static const bool accessible = (QAccessible::installFactory(makeAccessible), true);
    (void)accessible;
    // Plain text always: a message that happens to contain markup is shown
    // as the characters it holds, never interpreted.
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setTextInteractionFlags(Qt::NoTextInteraction);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The window decides the width; the text only decides the height.
    QSizePolicy policy(QSizePolicy::Ignored, QSizePolicy::Minimum);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

int WrappingLabel::textFlags() const
{
    return static_cast<int>(alignment()) | Qt::TextWordWrap;
}

int WrappingLabel::heightForWidth(int width) const
{
    const QMargins margins = contentsMargins();
    const int textWidth = std::max(1, width - margins.left() - margins.right());
    const QRect bounds = fontMetrics().boundingRect(QRect(0, 0, textWidth, 1 << 20), textFlags(), wrappableText(text()));
    return bounds.height() + margins.top() + margins.bottom();
}

QSize WrappingLabel::sizeHint() const
{
    const int width = std::max(this->width(), 1);
    return QSize(width, heightForWidth(width));
}

QSize WrappingLabel::minimumSizeHint() const
{
    return QSize(0, heightForWidth(std::max(width(), 1)));
}

void WrappingLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), textFlags(), palette(), isEnabled(), wrappableText(text()),
        foregroundRole());
}

} // namespace quillmark::platform::qt
