#include "platform/qt/qt_controls.hpp"

#include "platform/qt/choosable_pop_up.hpp"
#include "platform/qt/display_text.hpp"
#include "platform/qt/wrapping_label.hpp"

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
    : widget_(new WrappingLabel)
{
    setText(text);
}

QtLabel::~QtLabel() { deleteUnlessAdopted(widget_); }

void QtLabel::setText(const std::string& text)
{
    text_ = text;
    // The label's name is its text; the toolkit's label tells assistive
    // technologies of each new text itself, once, and of an unchanged one
    // not at all.
    if (widget_)
        widget_->setText(toQString(text));
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

namespace {

// A control that can no longer be used gives up the focus before it is
// disabled, rather than passing it on along the tab chain: the window then
// puts it where the user starts.
void giveUpFocusBeforeDisabling(QWidget* widget, bool enabled)
{
    if (!enabled && widget->hasFocus())
        widget->clearFocus();
}

} // namespace

void QtButton::setEnabled(bool enabled)
{
    if (widget_) {
        giveUpFocusBeforeDisabling(widget_, enabled);
        widget_->setEnabled(enabled);
    }
    notify(onChange);
}

bool QtButton::isEnabled() const { return widget_ && widget_->isEnabled(); }

QtPopUpButton::QtPopUpButton()
    : widget_(new ChoosablePopUp)
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
    if (widget_) {
        giveUpFocusBeforeDisabling(widget_, enabled);
        widget_->setEnabled(enabled);
    }
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
