#include "platform/qt/installer_window.hpp"

#include "platform/qt/display_text.hpp"
#include "platform/qt/qt_controls.hpp"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace quillmark::platform::qt {
namespace {

using namespace windowMetrics;

// The one menu is titled with the application's name, which is where other
// desktops put the Quit item, so it is found where people look for it.
constexpr const char* applicationMenuTitle = "Quillmark Installer";
constexpr const char* quitItemTitle = "Quit Quillmark Installer";
constexpr const char* locationCaption = "Installation location";
// What assistive technologies call the views that show no text of their own.
constexpr const char* imageAccessibleName = "Quillmark";
constexpr const char* progressAccessibleName = "Progress";

QFont systemFont(int pixelSize, QFont::Weight weight)
{
    QFont font = QApplication::font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

// Text in the secondary label colour: the ordinary text colour, half covered.
void useSecondaryColour(QWidget* widget)
{
    QPalette palette = widget->palette();
    QColor colour = palette.color(QPalette::WindowText);
    colour.setAlphaF(0.55f);
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

QLabel* makeImageView(const FileURL& image)
{
    QPixmap picture(toQString(image.path()));
    if (picture.isNull())
        return nullptr;
    auto* view = new QLabel;
    view->setAccessibleName(QString::fromUtf8(imageAccessibleName));
    view->setFixedSize(imageSide, imageSide);
    view->setAlignment(Qt::AlignCenter);
    view->setPixmap(picture.scaled(imageSide, imageSide, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    return view;
}

// The Qt control behind a control the controller holds; every control of
// the window comes from the Qt factory.
template <typename Control>
Control& qtControl(auto& control)
{
    return dynamic_cast<Control&>(control);
}

} // namespace

InstallerWindow::InstallerWindow(const WindowDescription& description, WindowHooks hooks)
    : hooks_(std::move(hooks))
{
    setWindowTitle(toQString(description.title));
    buildMenu();

    auto* content = new QWidget;
    content->setMinimumSize(minimumContentWidth, minimumContentHeight);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, buttonRowBottomInset);
    column->setSpacing(scrollToButtonRowGap);

    scrollView_ = new QScrollArea;
    // Only the controls take the keyboard focus, never the area around them.
    scrollView_->setFocusPolicy(Qt::NoFocus);
    scrollView_->setFrameShape(QFrame::NoFrame);
    scrollView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrollView_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // The document view follows the visible width; only its height scrolls.
    scrollView_->setWidgetResizable(true);
    scrollView_->viewport()->setAutoFillBackground(false);
    scrollView_->setWidget(buildMainStack(description));
    // Set after adoption: the scroll view turns the background on when it adopts.
    scrollView_->widget()->setAutoFillBackground(false);
    column->addWidget(scrollView_, 1);

    // The row has no leading edge of its own: it keeps its natural width and
    // stays pinned to the right, whatever the window's width.
    auto* rowLine = new QHBoxLayout;
    rowLine->setContentsMargins(0, 0, buttonRowRightInset, 0);
    rowLine->addStretch(1);
    buttonRow_ = buildButtonRow(description);
    rowLine->addWidget(buttonRow_);
    column->addLayout(rowLine);

    setCentralWidget(content);
    qtControl<QtProgressIndicator>(description.progress).applyVisibility();

    // The keyboard goes from the pop-up to the buttons, left to right.
    setTabOrder(destinations_->widget(), secondary_->widget());
    setTabOrder(secondary_->widget(), primary_->widget());
    for (QWidget* control : { static_cast<QWidget*>(destinations_->widget()), static_cast<QWidget*>(secondary_->widget()),
             static_cast<QWidget*>(primary_->widget()) })
        control->installEventFilter(this);

    // The content keeps its size below the menu bar, which takes its own height.
    resize(contentWidth, contentHeight + menuBar()->sizeHint().height());
}

void InstallerWindow::buildMenu()
{
    QMenu* menu = menuBar()->addMenu(QString::fromUtf8(applicationMenuTitle));
    QAction* quit = menu->addAction(QString::fromUtf8(quitItemTitle));
    quitAction_ = quit;
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    // Quit works while a sheet is open too, as the menu bar would.
    quit->setShortcutContext(Qt::ApplicationShortcut);
    quit->setMenuRole(QAction::NoRole);
    connect(quit, &QAction::triggered, this, [this] {
        if (hooks_.quitRequested)
            hooks_.quitRequested();
    });
}

QWidget* InstallerWindow::buildMainStack(const WindowDescription& description)
{
    auto* document = new QWidget;
    mainStack_ = document;
    auto* stack = new QVBoxLayout(document);
    stack->setContentsMargins(stackLeftInset, stackTopInset, stackRightInset, stackBottomInset);
    stack->setSpacing(stackSpacing);

    if (description.image) {
        if (QLabel* image = makeImageView(*description.image))
            stack->addWidget(image, 0, Qt::AlignLeft);
    }

    auto& title = qtControl<QtLabel>(description.titleLabel);
    title.widget()->setFont(systemFont(titleFontSize, QFont::DemiBold));
    stack->addWidget(title.widget());

    auto& text = qtControl<QtLabel>(description.descriptionLabel);
    text.widget()->setFont(systemFont(descriptionFontSize, QFont::Normal));
    useSecondaryColour(text.widget());
    stack->addWidget(text.widget());

    auto* caption = new QLabel(QString::fromUtf8(locationCaption));
    caption->setTextFormat(Qt::PlainText);
    caption->setFont(systemFont(smallFontSize, QFont::Medium));
    stack->addWidget(caption, 0, Qt::AlignLeft);

    auto& destinations = qtControl<QtPopUpButton>(description.destinations);
    destinations.widget()->setAccessibleName(QString::fromUtf8(locationCaption));
    caption->setBuddy(destinations.widget());
    stack->addWidget(destinations.widget());
    connect(destinations.widget(), &QComboBox::activated, this, [action = description.destinationsAction] {
        if (action)
            action();
    });

    auto& status = qtControl<QtLabel>(description.statusLabel);
    status.widget()->setFont(systemFont(smallFontSize, QFont::Normal));
    useSecondaryColour(status.widget());
    status.widget()->setStatusLine(true);
    stack->addWidget(status.widget());

    auto& progress = qtControl<QtProgressIndicator>(description.progress);
    progress.widget()->setAccessibleName(QString::fromUtf8(progressAccessibleName));
    stack->addWidget(progress.widget());

    // Content starts at the top; spare height stays below it.
    stack->addStretch(1);

    destinations_ = &destinations;
    auto follow = [this] { controlsChanged(); };
    destinations.onChange = follow;
    return document;
}

QWidget* InstallerWindow::buildButtonRow(const WindowDescription& description)
{
    auto& secondary = qtControl<QtButton>(description.secondary);
    auto& primary = qtControl<QtButton>(description.primary);

    auto* row = new QWidget;
    auto* buttons = new QHBoxLayout(row);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(buttonSpacing);
    buttons->addWidget(secondary.widget());
    buttons->addWidget(primary.widget());
    primary.widget()->setDefault(true);

    connect(primary.widget(), &QPushButton::clicked, this, [action = description.primaryAction] {
        if (action)
            action();
    });
    connect(secondary.widget(), &QPushButton::clicked, this, [action = description.secondaryAction] {
        if (action)
            action();
    });

    primary_ = &primary;
    secondary_ = &secondary;
    auto follow = [this] { controlsChanged(); };
    primary.onChange = follow;
    secondary.onChange = follow;
    return row;
}

namespace {

// Presses a button as a click would, while it could be clicked.
bool pressIfAvailable(QPushButton* button)
{
    if (!button->isEnabled() || !button->isVisible())
        return false;
    button->click();
    return true;
}

} // namespace

void InstallerWindow::keyPressEvent(QKeyEvent* event)
{
    // Only keys that no control used arrive here: an open pop-up keeps its
    // Return and Escape, so choosing an item never installs and closing the
    // list never quits. The buttons' keys work whatever the buttons read.
    const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (modifiers == Qt::NoModifier) {
        switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // A focused button is the one the user means.
            pressIfAvailable(focusWidget() == secondary_->widget() ? secondary_->widget() : primary_->widget());
            event->accept();
            return;
        case Qt::Key_Escape:
            pressIfAvailable(secondary_->widget());
            event->accept();
            return;
        default:
            break;
        }
    }
    QMainWindow::keyPressEvent(event);
}

bool InstallerWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn) {
        switch (static_cast<QFocusEvent*>(event)->reason()) {
        case Qt::TabFocusReason:
        case Qt::BacktabFocusReason:
        case Qt::MouseFocusReason:
        case Qt::ShortcutFocusReason:
            userMovedFocus_ = true;
            break;
        default:
            break;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

bool InstallerWindow::isUsableFocus(const QWidget* widget) const
{
    return widget && widget->isEnabled() && widget->isVisible()
        && (widget == destinations_->widget() || widget == secondary_->widget() || widget == primary_->widget());
}

void InstallerWindow::focusStartingControl()
{
    userMovedFocus_ = false;
    QWidget* start = nullptr;
    for (QWidget* candidate : { static_cast<QWidget*>(destinations_->widget()), static_cast<QWidget*>(primary_->widget()),
             static_cast<QWidget*>(secondary_->widget()) }) {
        if (candidate->isEnabled()) {
            start = candidate;
            break;
        }
    }
    if (start && start != focusWidget())
        start->setFocus(Qt::OtherFocusReason);
}

void InstallerWindow::controlsChanged()
{
    if (!destinations_ || !primary_ || !secondary_ || focusPlacementPending_)
        return;
    // One change of state sets several controls one after the other; the
    // focus waits until all of them are set, so that it moves once, straight
    // to where it belongs, and a screen reader says one control, not each
    // one it passed on the way.
    focusPlacementPending_ = true;
    QMetaObject::invokeMethod(this, &InstallerWindow::placeFocus, Qt::QueuedConnection);
}

void InstallerWindow::placeFocus()
{
    focusPlacementPending_ = false;
    // Until the user moves it, the focus follows the state: on the pop-up
    // once there is a choice to make, on the default button once the
    // installation is done. Wherever it is, it never stays on a control that
    // can no longer be used.
    if (!userMovedFocus_ || !isUsableFocus(focusWidget()))
        focusStartingControl();
}

void InstallerWindow::closeEvent(QCloseEvent* event)
{
    // Closing goes through the controller, which decides whether the window
    // may go, and quits or cancels instead.
    if (hooks_.shouldClose && hooks_.shouldClose()) {
        event->accept();
        return;
    }
    event->ignore();
}

} // namespace quillmark::platform::qt
