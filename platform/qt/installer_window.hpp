#pragma once

#include "platform/desktop/desktop.hpp"

#include <QMainWindow>

#include <functional>

class QAction;
class QScrollArea;
class QWidget;

namespace quillmark::platform::qt {

class QtButton;
class QtLabel;
class QtPopUpButton;
class QtProgressIndicator;

// Sizes and spacings of the installer window, in device-independent pixels.
namespace windowMetrics {
inline constexpr int contentWidth = 560;
inline constexpr int contentHeight = 560;
inline constexpr int minimumContentWidth = 500;
inline constexpr int minimumContentHeight = 420;
inline constexpr int stackTopInset = 28;
inline constexpr int stackLeftInset = 30;
inline constexpr int stackBottomInset = 26;
inline constexpr int stackRightInset = 30;
inline constexpr int stackSpacing = 16;
inline constexpr int imageSide = 64;
inline constexpr int buttonSpacing = 10;
inline constexpr int buttonRowRightInset = 30;
inline constexpr int buttonRowBottomInset = 24;
inline constexpr int scrollToButtonRowGap = 12;
inline constexpr int titleFontSize = 23;
inline constexpr int descriptionFontSize = 13;
inline constexpr int smallFontSize = 12;
} // namespace windowMetrics

// What the window asks of the application around it.
struct WindowHooks {
    // Whether the window may really close; false keeps it open.
    std::function<bool()> shouldClose;
    // The Quit menu item.
    std::function<void()> quitRequested;
};

// The installer's one window: a menu with the Quit item, a scrolling column
// of the controller's controls and a button row pinned to the lower right
// corner. The window adopts the controls' widgets.
class InstallerWindow final : public QMainWindow {
public:
    InstallerWindow(const WindowDescription& description, WindowHooks hooks);

    // The part below the menu bar, which holds every control.
    QWidget* contentView() const { return centralWidget(); }
    QScrollArea* scrollView() const { return scrollView_; }
    QWidget* buttonRow() const { return buttonRow_; }
    QWidget* mainStack() const { return mainStack_; }
    // The Quit menu item, whose shortcut a sheet must carry to keep it working.
    QAction* quitAction() const { return quitAction_; }

    // Puts the keyboard focus where the user starts: on the pop-up, or on
    // the default button while the pop-up is disabled, else on the other one.
    void focusStartingControl();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMenu();
    QWidget* buildMainStack(const WindowDescription& description);
    QWidget* buildButtonRow(const WindowDescription& description);
    void controlsChanged();
    void placeFocus();
    bool isUsableFocus(const QWidget* widget) const;

    WindowHooks hooks_;
    QtPopUpButton* destinations_ = nullptr;
    QtButton* primary_ = nullptr;
    QtButton* secondary_ = nullptr;
    QScrollArea* scrollView_ = nullptr;
    QWidget* buttonRow_ = nullptr;
    QWidget* mainStack_ = nullptr;
    QAction* quitAction_ = nullptr;
    // Whether the user put the focus where it is (Tab, a click, a shortcut).
    bool userMovedFocus_ = false;
    // Whether the focus is to be placed once the current pass of the event
    // loop is over.
    bool focusPlacementPending_ = false;
};

} // namespace quillmark::platform::qt
