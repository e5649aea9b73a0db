#include "platform/qt/installer_window.hpp"

#include "platform/qt/display_text.hpp"
#include "platform/qt/qt_controls.hpp"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QVBoxLayout>

namespace quillmark::platform::qt {
namespace {

using namespace windowMetrics;

// The one menu is titled with the application's name, which is where other
// desktops put the Quit item, so it is found where people look for it.
constexpr const char* applicationMenuTitle = "Quillmark Installer";
constexpr const char* quitItemTitle = "Quit Quillmark Installer";
constexpr const char* locationCaption = "Installation location";
constexpr const char* statusAccessibleName = "Installer status";

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

    // The content keeps its size below the menu bar, which takes its own height.
    resize(contentWidth, contentHeight + menuBar()->sizeHint().height());
}

void InstallerWindow::buildMenu()
{
    QMenu* menu = menuBar()->addMenu(QString::fromUtf8(applicationMenuTitle));
    QAction* quit = menu->addAction(QString::fromUtf8(quitItemTitle));
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
    status.widget()->setAccessibleName(QString::fromUtf8(statusAccessibleName));
    stack->addWidget(status.widget());

    auto& progress = qtControl<QtProgressIndicator>(description.progress);
    stack->addWidget(progress.widget());

    // Content starts at the top; spare height stays below it.
    stack->addStretch(1);

    title_ = &title;
    description_ = &text;
    destinations_ = &destinations;
    status_ = &status;
    progress_ = &progress;
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
    bindKeys(primary, secondary);

    primary_ = &primary;
    secondary_ = &secondary;
    return row;
}

void InstallerWindow::bindKeys(QtButton& primary, QtButton& secondary)
{
    // The keys belong to the buttons whatever their titles, and act only
    // while the button could be clicked.
    auto press = [](QPushButton* button) {
        return [button] {
            if (button->isEnabled() && button->isVisible())
                button->click();
        };
    };
    for (auto key : { Qt::Key_Return, Qt::Key_Enter }) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        connect(shortcut, &QShortcut::activated, this, press(primary.widget()));
    }
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, press(secondary.widget()));
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
