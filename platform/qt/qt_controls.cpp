#include "platform/qt/qt_controls.hpp"

#include "platform/qt/display_text.hpp"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace quillmark::platform::qt {
namespace {

void notify(const std::function<void()>& onChange)
{
    if (onChange)
        onChange();
}

// A widget still without a parent belongs to its control; once the window has
// adopted it, the window deletes it.
void deleteUnlessAdopted(QWidget* widget)
{
    if (widget && !widget->parent())
        delete widget;
}

// A push button with the breathing room of a standard bezel around its
// title; the toolkit's own leaves the text touching the frame.
class BezelPushButton final : public QPushButton {
public:
    QSize sizeHint() const override
    {
        constexpr int titlePadding = 12;
        QSize size = QPushButton::sizeHint();
        size.rwidth() += 2 * titlePadding;
        return size;
    }
};

} // namespace

QtLabel::QtLabel(const std::string& text)
    : widget_(new QLabel)
{
    // Plain text always: a message that happens to contain markup is shown
    // as the characters it holds, never interpreted.
    widget_->setTextFormat(Qt::PlainText);
    widget_->setWordWrap(true);
    widget_->setTextInteractionFlags(Qt::NoTextInteraction);
    widget_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The window decides the width; the text only decides the height.
    QSizePolicy policy(QSizePolicy::Ignored, QSizePolicy::Minimum);
    policy.setHeightForWidth(true);
    widget_->setSizePolicy(policy);
    setText(text);
}

QtLabel::~QtLabel() { deleteUnlessAdopted(widget_); }

void QtLabel::setText(const std::string& text)
{
    text_ = text;
    if (widget_)
        widget_->setText(wrappableText(text));
    notify(onChange);
}

QtButton::QtButton(const std::string& title)
    : widget_(new BezelPushButton)
{
    widget_->setAutoDefault(false);
    setTitle(title);
}

QtButton::~QtButton() { deleteUnlessAdopted(widget_); }

void QtButton::setTitle(const std::string& title)
{
    title_ = title;
    if (widget_)
        widget_->setText(buttonTitle(title));
    notify(onChange);
}

void QtButton::setEnabled(bool enabled)
{
    if (widget_)
        widget_->setEnabled(enabled);
    notify(onChange);
}

bool QtButton::isEnabled() const { return widget_ && widget_->isEnabled(); }

QtPopUpButton::QtPopUpButton()
    : widget_(new QComboBox)
{
    // Long item titles are elided rather than widening the window.
    widget_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    widget_->setMinimumContentsLength(8);
    widget_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

QtPopUpButton::~QtPopUpButton() { deleteUnlessAdopted(widget_); }

void QtPopUpButton::removeAllItems()
{
    if (widget_)
        widget_->clear();
    notify(onChange);
}

void QtPopUpButton::addItem(const std::string& title)
{
    if (widget_)
        widget_->addItem(toQString(title));
    notify(onChange);
}

void QtPopUpButton::selectItem(int index)
{
    if (widget_)
        widget_->setCurrentIndex(index);
    notify(onChange);
}

int QtPopUpButton::selectedIndex() const { return widget_ ? widget_->currentIndex() : -1; }

void QtPopUpButton::setEnabled(bool enabled)
{
    if (widget_)
        widget_->setEnabled(enabled);
    notify(onChange);
}

QtProgressIndicator::QtProgressIndicator()
    : widget_(new QProgressBar)
{
    // An empty range makes the bar indeterminate.
    widget_->setRange(0, 0);
    widget_->setTextVisible(false);
    widget_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    update();
}

QtProgressIndicator::~QtProgressIndicator() { deleteUnlessAdopted(widget_); }

void QtProgressIndicator::show()
{
    hidden_ = false;
    update();
}

void QtProgressIndicator::hide()
{
    hidden_ = true;
    update();
}

void QtProgressIndicator::startAnimation()
{
    animating_ = true;
    update();
}

void QtProgressIndicator::stopAnimation()
{
    animating_ = false;
    update();
}

void QtProgressIndicator::update()
{
    applyVisibility();
    notify(onChange);
}

void QtProgressIndicator::applyVisibility()
{
    // A stopped indicator is not displayed, and a hidden one takes no room.
    if (widget_ && widget_->parentWidget())
        widget_->setVisible(!hidden_ && animating_);
}

std::unique_ptr<Label> QtControlFactory::makeWrappingLabel(const std::string& text)
{
    return std::make_unique<QtLabel>(text);
}

std::unique_ptr<Button> QtControlFactory::makeButton(const std::string& title)
{
    return std::make_unique<QtButton>(title);
}

std::unique_ptr<PopUpButton> QtControlFactory::makePopUpButton()
{
    return std::make_unique<QtPopUpButton>();
}

std::unique_ptr<ProgressIndicator> QtControlFactory::makeProgressIndicator()
{
    return std::make_unique<QtProgressIndicator>();
}

} // namespace quillmark::platform::qt
