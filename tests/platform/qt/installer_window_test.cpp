#include "tests/platform/qt/window_fixture.hpp"

#include "tests/support/temporary_folder.hpp"

#include <QAccessible>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QScrollArea>
#include <QAbstractItemView>
#include <QScrollBar>

#include <map>
#include <vector>

#include <gtest/gtest.h>

namespace quillmark::platform::qt {
namespace {

using namespace windowMetrics;

// Where `widget` lies inside the window's content view.
QRect inContent(const ShownWindow& shown, const QWidget* widget)
{
    return QRect(widget->mapTo(shown.window()->contentView(), QPoint(0, 0)), widget->size());
}

// The visible views of the main stack, top to bottom.
std::vector<QWidget*> stackViews(const ShownWindow& shown)
{
    std::vector<QWidget*> views;
    QLayout* stack = shown.window()->mainStack()->layout();
    for (int i = 0; i < stack->count(); ++i) {
        QWidget* view = stack->itemAt(i)->widget();
        if (view && !view->isHidden())
            views.push_back(view);
    }
    return views;
}

FileURL writeImage(const testing::TemporaryFolder& folder, int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::darkBlue);
    const std::string path = folder.path("Quillmark.png");
    EXPECT_TRUE(image.save(QString::fromStdString(path), "PNG"));
    return FileURL(path);
}

void expectButtonRowPinned(const ShownWindow& shown)
{
    const QWidget* content = shown.window()->contentView();
    const QRect row = inContent(shown, shown.window()->buttonRow());
    EXPECT_EQ(content->width() - (row.x() + row.width()), buttonRowRightInset);
    EXPECT_EQ(content->height() - (row.y() + row.height()), buttonRowBottomInset);
    const QRect scroll = inContent(shown, shown.window()->scrollView());
    EXPECT_EQ(scroll.topLeft(), QPoint(0, 0));
    EXPECT_EQ(scroll.width(), content->width());
    EXPECT_EQ(row.y() - (scroll.y() + scroll.height()), scrollToButtonRowGap);
    // The primary button is the rightmost.
    EXPECT_GT(inContent(shown, shown.primary->widget()).x(), inContent(shown, shown.secondary->widget()).x());
}

void expectFullWidthViewsFollowVisibleWidth(const ShownWindow& shown)
{
    const int visibleWidth = shown.window()->scrollView()->viewport()->width();
    for (QWidget* view : { static_cast<QWidget*>(shown.title->widget()), static_cast<QWidget*>(shown.description->widget()),
             static_cast<QWidget*>(shown.destinations->widget()), static_cast<QWidget*>(shown.status->widget()),
             static_cast<QWidget*>(shown.progress->widget()) }) {
        if (view->isHidden())
            continue;
        EXPECT_EQ(view->width(), visibleWidth - 60) << view->metaObject()->className();
        EXPECT_EQ(view->x(), stackLeftInset) << view->metaObject()->className();
    }
}

struct LayoutCase {
    const char* name;
    bool withImage;
};

class WindowLayoutTest : public ::testing::TestWithParam<LayoutCase> { };

TEST_P(WindowLayoutTest, PlacesEveryViewAtItsSizeAndSpacing)
{
    testing::TemporaryFolder folder;
    std::optional<FileURL> image;
    if (GetParam().withImage)
        image = writeImage(folder, 128, 128);
    ShownWindow shown(image);
    shown.progress->show();
    shown.progress->startAnimation();
    shown.status->setText("Destination: /Applications/Quillmark.app");
    ShownWindow::settle();

    EXPECT_EQ(shown.window()->windowTitle(), QStringLiteral("Install or Update Quillmark"));
    EXPECT_EQ(shown.window()->contentView()->size(), QSize(contentWidth, contentHeight));
    expectButtonRowPinned(shown);
    expectFullWidthViewsFollowVisibleWidth(shown);

    auto views = stackViews(shown);
    std::vector<QWidget*> expected;
    if (GetParam().withImage)
        expected.push_back(views.front());
    auto* caption = views.at(GetParam().withImage ? 3 : 2);
    expected.insert(expected.end(), { shown.title->widget(), shown.description->widget(), caption,
                                        shown.destinations->widget(), shown.status->widget(), shown.progress->widget() });
    ASSERT_EQ(views, expected);

    EXPECT_EQ(views.front()->pos(), QPoint(stackLeftInset, stackTopInset));
    for (std::size_t i = 1; i < views.size(); ++i)
        EXPECT_EQ(views[i]->y(), views[i - 1]->y() + views[i - 1]->height() + stackSpacing) << i;

    auto* captionLabel = qobject_cast<QLabel*>(caption);
    ASSERT_NE(captionLabel, nullptr);
    EXPECT_EQ(captionLabel->text(), QStringLiteral("Installation location"));
    EXPECT_EQ(captionLabel->x(), stackLeftInset);
    EXPECT_LT(captionLabel->width(), shown.window()->scrollView()->viewport()->width() - 60);
    EXPECT_EQ(captionLabel->font().pixelSize(), smallFontSize);
    EXPECT_EQ(captionLabel->font().weight(), QFont::Medium);

    EXPECT_EQ(shown.title->widget()->font().pixelSize(), titleFontSize);
    EXPECT_EQ(shown.title->widget()->font().weight(), QFont::DemiBold);
    EXPECT_EQ(shown.description->widget()->font().pixelSize(), descriptionFontSize);
    EXPECT_EQ(shown.status->widget()->font().pixelSize(), smallFontSize);

    if (GetParam().withImage) {
        EXPECT_EQ(views.front()->size(), QSize(imageSide, imageSide));
    }
}

INSTANTIATE_TEST_SUITE_P(Image, WindowLayoutTest,
    ::testing::Values(LayoutCase { "WithImage", true }, LayoutCase { "WithoutImage", false }),
    [](const auto& info) { return std::string(info.param.name); });

struct ImageCase {
    const char* name;
    int width;
    int height;
    QSize shown;
};

class WindowImageTest : public ::testing::TestWithParam<ImageCase> { };

TEST_P(WindowImageTest, ScalesTheImageProportionallyIntoItsSquare)
{
    testing::TemporaryFolder folder;
    ShownWindow shown(writeImage(folder, GetParam().width, GetParam().height));
    auto* view = qobject_cast<QLabel*>(stackViews(shown).front());
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->size(), QSize(imageSide, imageSide));
    EXPECT_EQ(view->pixmap().size(), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(Sizes, WindowImageTest,
    ::testing::Values(ImageCase { "Larger", 128, 96, QSize(64, 48) }, ImageCase { "Smaller", 16, 32, QSize(32, 64) },
        ImageCase { "Square", 64, 64, QSize(64, 64) }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WindowTest, UnreadableImageLeavesTheStackStartingWithTheHeadline)
{
    testing::TemporaryFolder folder;
    testing::writeFile(folder.path("Quillmark.png"), "not a picture");
    ShownWindow shown(FileURL(folder.path("Quillmark.png")));
    EXPECT_EQ(stackViews(shown).front(), shown.title->widget());
}

TEST(WindowTest, MinimumSizeKeepsTheButtonRowPinnedAndScrollsTheStack)
{
    ShownWindow shown;
    shown.progress->show();
    shown.progress->startAnimation();
    shown.status->setText(std::string(16, '\n') + "Destination: /Applications/Quillmark.app");
    shown.window()->resize(100, 100);
    ShownWindow::settle();

    EXPECT_EQ(shown.window()->contentView()->size(), QSize(minimumContentWidth, minimumContentHeight));
    expectButtonRowPinned(shown);
    QScrollArea* scroll = shown.window()->scrollView();
    EXPECT_TRUE(scroll->verticalScrollBar()->isVisible());
    EXPECT_EQ(scroll->verticalScrollBar()->value(), 0);
    // The content starts at the top of the visible part.
    EXPECT_EQ(shown.title->widget()->mapTo(scroll->viewport(), QPoint(0, 0)), QPoint(stackLeftInset, stackTopInset));
    expectFullWidthViewsFollowVisibleWidth(shown);
    EXPECT_EQ(shown.title->widget()->width(), scroll->viewport()->width() - 60);
    EXPECT_LT(scroll->viewport()->width(), minimumContentWidth);
}

TEST(WindowTest, LongStatusLineWrapsWithinTheVisibleWidthAndGrowsDownwards)
{
    ShownWindow shown;
    QLabel* status = shown.status->widget();
    const int top = status->y();
    const std::string longPath = "/Users/someone/" + std::string(2500, 'x') + "/Quillmark.app";
    const std::string message = "The item could not be moved to " + longPath + " because <b>the volume</b> is full & read only.";
    shown.status->setText(message);
    ShownWindow::settle();

    const QScrollArea* scroll = shown.window()->scrollView();
    EXPECT_EQ(shown.window()->contentView()->width(), contentWidth);
    EXPECT_EQ(status->width(), scroll->viewport()->width() - 60);
    EXPECT_EQ(status->y(), top);
    EXPECT_GE(status->height(), status->heightForWidth(status->width()));
    // The stack grew past the visible part, which now scrolls.
    EXPECT_GT(shown.window()->mainStack()->height(), scroll->viewport()->height());
    EXPECT_TRUE(scroll->verticalScrollBar()->isVisible());
    expectFullWidthViewsFollowVisibleWidth(shown);
    // Shown as the characters it holds: no markup, nothing lost, nothing
    // added for wrapping, so assistive technologies read the exact text.
    EXPECT_EQ(status->textFormat(), Qt::PlainText);
    EXPECT_EQ(status->text().toStdString(), message);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(status)->text(QAccessible::Name).toStdString(), message);
    EXPECT_EQ(shown.status->text(), message);
}

TEST(WindowTest, AccessibilityNamesTellWhatTheControlsAre)
{
    testing::TemporaryFolder folder;
    ShownWindow shown(writeImage(folder, 64, 64));
    shown.status->setText("Destination: /Applications/Quillmark.app");
    struct Case {
        QWidget* widget;
        QString name;
        QAccessible::Role role;
    };
    for (const auto& [widget, name, role] : {
             Case { stackViews(shown).front(), QStringLiteral("Quillmark"), QAccessible::Graphic },
             Case { shown.title->widget(), QStringLiteral("Install or Update Quillmark"), QAccessible::StaticText },
             Case { shown.destinations->widget(), QStringLiteral("Installation location"), QAccessible::ComboBox },
             // The status line is read as what it says.
             Case { shown.status->widget(), QStringLiteral("Destination: /Applications/Quillmark.app"), QAccessible::StatusBar },
             Case { shown.progress->widget(), QStringLiteral("Progress"), QAccessible::ProgressBar },
         }) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        ASSERT_NE(accessible, nullptr);
        EXPECT_EQ(accessible->text(QAccessible::Name), name);
        EXPECT_EQ(accessible->role(), role) << name.toStdString();
    }
    // What the status line is for stays said while its name follows the text.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(shown.status->widget())->text(QAccessible::Description),
        QStringLiteral("Installer status"));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(shown.title->widget())->text(QAccessible::Description), QString());
}

// The keyboard goes from the pop-up to the buttons, left to right, and round.
TEST(WindowTest, TabGoesFromThePopUpToTheButtonsLeftToRight)
{
    ShownWindow shown;
    shown.destinations->addItem("/Applications \u00B7 New installation");
    ShownWindow::settle();
    std::vector<QWidget*> visited { shown.window()->focusWidget() };
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(shown.window()->focusWidget(), Qt::Key_Tab);
        visited.push_back(shown.window()->focusWidget());
    }
    EXPECT_EQ(visited, (std::vector<QWidget*> { shown.destinations->widget(), shown.secondary->widget(),
                           shown.primary->widget(), shown.destinations->widget() }));
}

// One change of state sets several controls in turn; the focus moves once,
// when all are set, straight to where the new state puts it.
TEST(WindowTest, TheFocusMovesOncePerChangeOfState)
{
    ShownWindow shown;
    shown.destinations->addItem("/Applications \u00B7 New installation");
    // Busy installing: only Cancel can be used.
    shown.destinations->setEnabled(false);
    shown.primary->setEnabled(false);
    ShownWindow::settle();
    ASSERT_EQ(shown.window()->focusWidget(), shown.secondary->widget());

    struct FocusLog : QObject {
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            if (event->type() == QEvent::FocusIn)
                arrivals.push_back(watched);
            return false;
        }
        std::vector<QObject*> arrivals;
    } log;
    for (QWidget* control : { static_cast<QWidget*>(shown.destinations->widget()),
             static_cast<QWidget*>(shown.secondary->widget()), static_cast<QWidget*>(shown.primary->widget()) })
        control->installEventFilter(&log);

    // As the controller ends an installation: idle again, then the pop-up
    // goes off and "Open Quillmark" becomes the way on.
    shown.destinations->setEnabled(true);
    shown.primary->setEnabled(true);
    shown.destinations->setEnabled(false);
    shown.primary->setTitle("Open Quillmark");
    shown.secondary->setTitle("Done");
    ShownWindow::settle();
    EXPECT_EQ(log.arrivals, std::vector<QObject*> { shown.primary->widget() });
}

TEST(WindowTest, PopUpItemsCanBeChosenThroughTheAccessibilityInterface)
{
    ShownWindow shown;
    for (const char* item : { "/Applications \u00B7 New installation", "/home/someone/Applications \u00B7 2.3.1 (build 231)" })
        shown.destinations->addItem(item);
    shown.destinations->setEnabled(true);
    QAccessibleInterface* box = QAccessible::queryAccessibleInterface(shown.destinations->widget());
    ASSERT_NE(box, nullptr);
    ASSERT_GE(box->childCount(), 1);
    QAccessibleInterface* list = box->child(0);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->childCount(), 2);
    QAccessibleInterface* second = list->child(1);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->role(), QAccessible::ListItem);
    EXPECT_EQ(second->text(QAccessible::Name), QStringLiteral("/home/someone/Applications \u00B7 2.3.1 (build 231)"));
    EXPECT_FALSE(second->state().selected);
    ASSERT_NE(second->actionInterface(), nullptr);

    second->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    ShownWindow::settle();
    EXPECT_EQ(shown.destinations->selectedIndex(), 1);
    EXPECT_EQ(shown.destinationPicks, 1);
    EXPECT_TRUE(second->state().selected);

    // A disabled pop-up chooses nothing, whichever way it is asked.
    shown.destinations->setEnabled(false);
    list->child(0)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    ShownWindow::settle();
    EXPECT_EQ(shown.destinations->selectedIndex(), 1);
    EXPECT_EQ(shown.destinationPicks, 1);
}

struct KeyCase {
    const char* title;
    bool enabled;
    bool focusOnList;
};

class WindowKeysTest : public ::testing::TestWithParam<KeyCase> { };

TEST_P(WindowKeysTest, ReturnAndEscapePressTheButtonsWhateverTheirTitles)
{
    ShownWindow shown;
    shown.destinations->addItem("/Applications · New installation");
    shown.destinations->setEnabled(true);
    shown.primary->setTitle(GetParam().title);
    shown.secondary->setTitle(GetParam().title);
    shown.primary->setEnabled(GetParam().enabled);
    shown.secondary->setEnabled(GetParam().enabled);
    if (GetParam().focusOnList)
        shown.destinations->widget()->setFocus();
    ShownWindow::settle();
    QWindow* window = shown.window()->windowHandle();

    QTest::keyClick(window, Qt::Key_Return);
    QTest::keyClick(window, Qt::Key_Enter);
    QTest::keyClick(window, Qt::Key_Escape);
    ShownWindow::settle();

    const int expected = GetParam().enabled ? 1 : 0;
    EXPECT_EQ(shown.primaryPresses, 2 * expected);
    EXPECT_EQ(shown.secondaryPresses, expected);
    EXPECT_EQ(shown.destinationPicks, 0);
    EXPECT_EQ(shown.primary->widget()->text().replace(QLatin1String("&&"), QLatin1String("&")).toStdString(), GetParam().title);
}

INSTANTIATE_TEST_SUITE_P(Titles, WindowKeysTest,
    ::testing::Values(KeyCase { "Install Quillmark", true, false }, KeyCase { "Choose Quillmark.app…", true, false },
        KeyCase { "Open Quillmark", true, true }, KeyCase { "Cancel", true, false }, KeyCase { "Done", true, true },
        KeyCase { "Update Quillmark", true, false }, KeyCase { "Reinstall / Repair", true, false },
        KeyCase { "Install Older Version Quillmark", true, false }, KeyCase { "Save & Quit", true, false },
        KeyCase { "Install Quillmark", false, false }, KeyCase { "Cancel", false, true }));

TEST(WindowTest, ReturnPressesTheFocusedButton)
{
    ShownWindow shown;
    shown.secondary->widget()->setFocus(Qt::TabFocusReason);
    ShownWindow::settle();
    QTest::keyClick(shown.window()->windowHandle(), Qt::Key_Return);
    ShownWindow::settle();
    EXPECT_EQ(shown.secondaryPresses, 1);
    EXPECT_EQ(shown.primaryPresses, 0);
}

struct OpenPopUpCase {
    const char* name;
    Qt::Key key;
    int chosen;
    int picks;
};

class OpenPopUpKeysTest : public ::testing::TestWithParam<OpenPopUpCase> { };

TEST_P(OpenPopUpKeysTest, OpenPopUpKeepsItsKeysFromTheButtons)
{
    ShownWindow shown;
    for (const char* item : { "/Applications \u00B7 New installation", "/home/someone/Applications \u00B7 New installation" })
        shown.destinations->addItem(item);
    shown.destinations->setEnabled(true);
    ChoosablePopUp* popUp = shown.destinations->widget();
    popUp->setFocus();
    ShownWindow::settle();
    QTest::keyClick(popUp, Qt::Key_Down, Qt::AltModifier);
    ShownWindow::settle();
    ASSERT_TRUE(popUp->view()->isVisible()) << "Alt+Down opens the list";
    QTest::keyClick(popUp->view(), Qt::Key_Down);
    QTest::keyClick(popUp->view(), GetParam().key);
    ShownWindow::settle();

    EXPECT_FALSE(popUp->view()->isVisible());
    EXPECT_EQ(shown.destinations->selectedIndex(), GetParam().chosen);
    EXPECT_EQ(shown.destinationPicks, GetParam().picks);
    EXPECT_EQ(shown.primaryPresses, 0);
    EXPECT_EQ(shown.secondaryPresses, 0);
}

INSTANTIATE_TEST_SUITE_P(Keys, OpenPopUpKeysTest,
    ::testing::Values(OpenPopUpCase { "ReturnChooses", Qt::Key_Return, 1, 1 },
        OpenPopUpCase { "EscapeCloses", Qt::Key_Escape, 0, 0 }),
    [](const auto& info) { return std::string(info.param.name); });

struct FocusCase {
    const char* name;
    bool popUpEnabled;
    bool primaryEnabled;
    const char* focused;
};

class StartingFocusTest : public ::testing::TestWithParam<FocusCase> { };

TEST_P(StartingFocusTest, FocusStartsOnThePopUpOrTheDefaultButtonAndComesBackAfterASheet)
{
    ShownWindow shown;
    shown.destinations->addItem("/Applications \u00B7 New installation");
    shown.destinations->setEnabled(GetParam().popUpEnabled);
    shown.primary->setEnabled(GetParam().primaryEnabled);
    ShownWindow::settle();
    const std::map<std::string, QWidget*> controls { { "pop-up", shown.destinations->widget() },
        { "primary", shown.primary->widget() }, { "secondary", shown.secondary->widget() } };
    QWidget* expected = controls.at(GetParam().focused);
    EXPECT_EQ(shown.window()->focusWidget(), expected);

    std::optional<long> answer;
    shown.desktop.showAlert({ .message = "Install an older Quillmark version?", .informativeText = "",
                                .buttons = { "Install Older Version", "Cancel" } },
        [&](long response) { answer = response; });
    ShownWindow::settle();
    QWidget* sheet = QApplication::activeModalWidget();
    ASSERT_NE(sheet, nullptr);
    QTest::keyClick(sheet, Qt::Key_Escape);
    ShownWindow::settle();
    EXPECT_EQ(answer, 1001);
    EXPECT_EQ(shown.window()->focusWidget(), expected);
}

INSTANTIATE_TEST_SUITE_P(States, StartingFocusTest,
    ::testing::Values(FocusCase { "Ready", true, true, "pop-up" }, FocusCase { "Installed", false, true, "primary" },
        FocusCase { "Busy", false, false, "secondary" }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WindowTest, QuitKeyAsksTheDelegateAndQuitsOnlyWhenItAgrees)
{
    ShownWindow shown;
    QWindow* window = shown.window()->windowHandle();

    shown.delegate.terminateReply = TerminateReply::cancel;
    QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
    ShownWindow::settle();
    EXPECT_EQ(shown.delegate.terminateRequests, 1);
    EXPECT_EQ(shown.ends, 0);
    EXPECT_TRUE(shown.window()->isVisible());

    shown.delegate.terminateReply = TerminateReply::now;
    QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
    ShownWindow::settle();
    EXPECT_EQ(shown.delegate.terminateRequests, 2);
    EXPECT_EQ(shown.ends, 1);
}

TEST(WindowTest, QuitItemIsInTheMenu)
{
    ShownWindow shown;
    QStringList titles;
    for (QAction* menu : shown.window()->menuBar()->actions()) {
        for (QAction* item : menu->menu()->actions())
            titles << item->text() + QLatin1Char('=') + item->shortcut().toString();
    }
    EXPECT_EQ(titles, QStringList { QStringLiteral("Quit Quillmark Installer=Ctrl+Q") });
}

TEST(WindowTest, ClosingTheWindowAsksTheDelegateAndKeepsItOpen)
{
    ShownWindow shown;
    EXPECT_FALSE(shown.window()->close());
    ShownWindow::settle();
    EXPECT_EQ(shown.delegate.closeRequests, 1);
    EXPECT_EQ(shown.delegate.terminateRequests, 0);
    EXPECT_TRUE(shown.window()->isVisible());
}

TEST(WindowTest, StoppedProgressIsNotDisplayed)
{
    ShownWindow shown;
    QWidget* bar = shown.progress->widget();
    struct Step {
        std::function<void()> change;
        bool visible;
    };
    for (const auto& [change, visible] : std::vector<Step> {
             { [&] { shown.progress->show(); }, false },
             { [&] { shown.progress->startAnimation(); }, true },
             { [&] { shown.progress->hide(); }, false },
             { [&] { shown.progress->show(); }, true },
             { [&] { shown.progress->stopAnimation(); }, false },
         }) {
        change();
        EXPECT_EQ(bar->isVisible(), visible);
    }
}

} // namespace
} // namespace quillmark::platform::qt
