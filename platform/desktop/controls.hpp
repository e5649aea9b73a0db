#pragma once

#include <memory>
#include <string>

namespace quillmark::platform {

// The few controls of the installer window, reduced to what the controller
// changes. The controller owns the handles; an implementation may let its
// window own the widgets behind them once the window is built.

class Label {
public:
    virtual ~Label() = default;
    virtual void setText(const std::string& text) = 0;
};

class Button {
public:
    virtual ~Button() = default;
    virtual void setTitle(const std::string& title) = 0;
    virtual void setEnabled(bool enabled) = 0;
};

// A pop-up list. Item i is the i-th item added since the last removal.
class PopUpButton {
public:
    virtual ~PopUpButton() = default;
    virtual void removeAllItems() = 0;
    virtual void addItem(const std::string& title) = 0;
    virtual void selectItem(int index) = 0;
    // -1 when nothing is selected.
    virtual int selectedIndex() const = 0;
    virtual void setEnabled(bool enabled) = 0;
};

// An indeterminate activity indicator.
class ProgressIndicator {
public:
    virtual ~ProgressIndicator() = default;
    virtual void show() = 0;
    virtual void hide() = 0;
    virtual void startAnimation() = 0;
    virtual void stopAnimation() = 0;
};

class ControlFactory {
public:
    virtual ~ControlFactory() = default;
    // A multi-line label that the user can neither edit nor select.
    virtual std::unique_ptr<Label> makeWrappingLabel(const std::string& text) = 0;
    // A push button with no action yet; the window binds it when it is built.
    virtual std::unique_ptr<Button> makeButton(const std::string& title) = 0;
    virtual std::unique_ptr<PopUpButton> makePopUpButton() = 0;
    virtual std::unique_ptr<ProgressIndicator> makeProgressIndicator() = 0;
};

} // namespace quillmark::platform
