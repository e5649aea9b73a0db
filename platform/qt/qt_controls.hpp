#pragma once

#include "platform/desktop/controls.hpp"
#include "platform/qt/choosable_pop_up.hpp"
#include "platform/qt/wrapping_label.hpp"

#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>

#include <functional>
#include <string>

namespace quillmark::platform::qt {

// The controls handed to the controller. Each owns its widget until the
// window adopts it; after that the window owns the widget and the control
// only refers to it, so either may go first.
//
// `onChange`, when set, is called after every change the user could see;
// the window uses it to notice that its state moved on.

class QtLabel final : public Label {
public:
    explicit QtLabel(const std::string& text);
    ~QtLabel() override;

    void setText(const std::string& text) override;
    const std::string& text() const { return text_; }
    WrappingLabel* widget() const { return widget_; }
    std::function<void()> onChange;

private:
    std::string text_;
    QPointer<WrappingLabel> widget_;
};

class QtButton final : public Button {
public:
    explicit QtButton(const std::string& title);
    ~QtButton() override;

    void setTitle(const std::string& title) override;
    void setEnabled(bool enabled) override;
    const std::string& title() const { return title_; }
    bool isEnabled() const;
    QPushButton* widget() const { return widget_; }
    std::function<void()> onChange;

private:
    std::string title_;
    QPointer<QPushButton> widget_;
};

class QtPopUpButton final : public PopUpButton {
public:
    QtPopUpButton();
    ~QtPopUpButton() override;

    void removeAllItems() override;
    void addItem(const std::string& title) override;
    void selectItem(int index) override;
    int selectedIndex() const override;
    void setEnabled(bool enabled) override;
    ChoosablePopUp* widget() const { return widget_; }
    std::function<void()> onChange;

private:
    QPointer<ChoosablePopUp> widget_;
};

class QtProgressIndicator final : public ProgressIndicator {
public:
    QtProgressIndicator();
    ~QtProgressIndicator() override;

    void show() override;
    void hide() override;
    void startAnimation() override;
    void stopAnimation() override;
    bool isAnimating() const { return animating_; }
    bool isHidden() const { return hidden_; }
    QProgressBar* widget() const { return widget_; }
    std::function<void()> onChange;

    // Shows or hides the widget as the state asks; the window calls it once
    // it has adopted the widget, because a widget without a parent would
    // appear as a window of its own.
    void applyVisibility();

private:
    void update();

    bool hidden_ = false;
    bool animating_ = false;
    QPointer<QProgressBar> widget_;
};

class QtControlFactory final : public ControlFactory {
public:
    std::unique_ptr<Label> makeWrappingLabel(const std::string& text) override;
    std::unique_ptr<Button> makeButton(const std::string& title) override;
    std::unique_ptr<PopUpButton> makePopUpButton() override;
    std::unique_ptr<ProgressIndicator> makeProgressIndicator() override;
};

} // namespace quillmark::platform::qt
