#include "tests/platform/qt/window_fixture.hpp"

#include "tests/support/temporary_folder.hpp"

#include <QAccessible>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include <gtest/gtest.h>

namespace quillmark::platform::qt {
namespace {

template <typename Sheet>
Sheet* openSheet(const ShownWindow& shown)
{
    ShownWindow::settle();
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* sheet = qobject_cast<Sheet*>(widget); sheet && sheet->isVisible())
            return sheet;
    }
    ADD_FAILURE() << "no sheet is open on " << shown.window();
    return nullptr;
}

// Types a name into the panel's name field, as a person would.
bool type(QFileDialog& panel, const QString& name)
{
    auto* field = panel.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (!field)
        return false;
    field->setText(name);
    return true;
}

const AlertDescription olderVersionQuestion {
    .message = "Install an older Quillmark version?",
    .informativeText = "The installed copy <b>2.5</b> is newer & will be replaced.",
    .buttons = { "Install Older Version", "Cancel" },
};

struct AlertCase {
    const char* name;
    std::function<void(QMessageBox&)> answer;
    long response;
};

class AlertSheetTest : public ::testing::TestWithParam<AlertCase> { };

TEST_P(AlertSheetTest, AnswersWithTheNumberOfThePressedButton)
{
    ShownWindow shown;
    std::optional<long> response;
    shown.desktop.showAlert(olderVersionQuestion, [&](long answer) { response = answer; });
    QMessageBox* box = openSheet<QMessageBox>(shown);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    EXPECT_EQ(box->parentWidget(), shown.window());
    EXPECT_FALSE(response) << "the question must not block and must not answer itself";

    GetParam().answer(*box);
    ShownWindow::settle();
    EXPECT_EQ(response, GetParam().response);
}

INSTANTIATE_TEST_SUITE_P(Answers, AlertSheetTest,
    ::testing::Values(
        AlertCase { "FirstButton", [](QMessageBox& box) { box.buttons().size() && (box.defaultButton()->click(), true); }, 1000 },
        AlertCase { "Return", [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Return); }, 1000 },
        AlertCase { "Escape", [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); }, 1001 },
        AlertCase { "SecondButton", [](QMessageBox& box) { box.escapeButton()->click(); }, 1001 }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AlertSheetTest, ShowsTextsAsWrittenAndButtonsInOrder)
{
    ShownWindow shown;
    shown.desktop.showAlert(olderVersionQuestion, [](long) {});
    QMessageBox* box = openSheet<QMessageBox>(shown);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), QString::fromStdString(olderVersionQuestion.message));
    auto* informative = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
    ASSERT_NE(informative, nullptr);
    EXPECT_EQ(informative->textFormat(), Qt::PlainText);
    EXPECT_EQ(informative->text(), QString::fromStdString(olderVersionQuestion.informativeText));
    EXPECT_EQ(box->defaultButton()->text(), QStringLiteral("Install Older Version"));
    EXPECT_EQ(box->escapeButton()->text(), QStringLiteral("Cancel"));
    box->escapeButton()->click();
    ShownWindow::settle();
}

TEST(AlertSheetTest, IsNamedByItsQuestion)
{
    ShownWindow shown;
    shown.desktop.showAlert(olderVersionQuestion, [](long) {});
    QMessageBox* box = openSheet<QMessageBox>(shown);
    ASSERT_NE(box, nullptr);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(box);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->text(QAccessible::Name), QString::fromStdString(olderVersionQuestion.message));
    box->escapeButton()->click();
    ShownWindow::settle();
}

TEST(AlertSheetTest, AButtonThatIsNotItsOwnAnswersAsCancel)
{
    ShownWindow shown;
    std::optional<long> response;
    shown.desktop.showAlert(olderVersionQuestion, [&](long answer) { response = answer; });
    QMessageBox* box = openSheet<QMessageBox>(shown);
    ASSERT_NE(box, nullptr);
    box->addButton(QMessageBox::Help)->click();
    ShownWindow::settle();
    EXPECT_EQ(response, 1001) << "only the first button may go ahead";
}

struct QuitCase {
    const char* name;
    bool panel;
    long cancelled;
};

class QuitWithSheetTest : public ::testing::TestWithParam<QuitCase> { };

TEST_P(QuitWithSheetTest, QuitKeyCancelsTheSheetThenQuits)
{
    ShownWindow shown;
    testing::TemporaryFolder folder;
    std::vector<std::string> order;
    std::optional<long> response;
    if (GetParam().panel)
        shown.desktop.showOpenPanel({ .title = "t", .message = "m", .initialFolder = FileURL(folder.path(), true) },
            [&](long answer, std::optional<FileURL>) {
                order.push_back("sheet");
                response = answer;
            });
    else
        shown.desktop.showAlert(olderVersionQuestion, [&](long answer) {
            order.push_back("sheet");
            response = answer;
        });
    ShownWindow::settle();
    QPointer<QWidget> sheet = QApplication::activeModalWidget();
    ASSERT_NE(sheet, nullptr);
    shown.delegate.terminateReply = TerminateReply::now;

    QTest::keyClick(sheet, Qt::Key_Q, Qt::ControlModifier);
    ShownWindow::settle();
    EXPECT_EQ(response, GetParam().cancelled);
    EXPECT_TRUE(!sheet || !sheet->isVisible());
    EXPECT_EQ(shown.delegate.terminateRequests, 1);
    EXPECT_EQ(shown.ends, 1);
    EXPECT_EQ(order, std::vector<std::string> { "sheet" });
}

INSTANTIATE_TEST_SUITE_P(Sheets, QuitWithSheetTest,
    ::testing::Values(QuitCase { "Alert", false, 1001 }, QuitCase { "OpenPanel", true, modalResponseCancel }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(OpenPanelTest, IsWindowModalAndAnswersCancelWithNothingChosen)
{
    ShownWindow shown;
    testing::TemporaryFolder folder;
    std::optional<long> response;
    std::optional<FileURL> chosen = FileURL("/not-reset");
    shown.desktop.showOpenPanel(OpenPanelDescription { .title = "Choose the Quillmark App on the Installer Disk",
                                    .message = "Select Quillmark.app from the same mounted disk image. It will be checked before installation.",
                                    .initialFolder = FileURL(folder.path(), true) },
        [&](long answer, std::optional<FileURL> url) {
            response = answer;
            chosen = std::move(url);
        });
    QFileDialog* panel = openSheet<QFileDialog>(shown);
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->windowModality(), Qt::WindowModal);
    EXPECT_EQ(panel->windowTitle(), QStringLiteral("Choose the Quillmark App on the Installer Disk"));
    EXPECT_EQ(panel->directory().absolutePath().toStdString(), folder.path());
    panel->reject();
    ShownWindow::settle();
    EXPECT_EQ(response, modalResponseCancel);
    EXPECT_FALSE(chosen);
}

TEST(OpenPanelTest, ChoosesABundleFolderButOnlyOpensOtherFolders)
{
    ShownWindow shown;
    testing::TemporaryFolder folder;
    testing::makeFolder(folder.path("Disk"));
    testing::makeFolder(folder.path("Disk/Quillmark.app"));
    std::optional<long> response;
    std::optional<FileURL> chosen;
    shown.desktop.showOpenPanel(OpenPanelDescription { .title = "t", .message = "m", .initialFolder = FileURL(folder.path(), true) },
        [&](long answer, std::optional<FileURL> url) {
            response = answer;
            chosen = std::move(url);
        });
    QFileDialog* panel = openSheet<QFileDialog>(shown);
    ASSERT_NE(panel, nullptr);

    ASSERT_TRUE(type(*panel, QStringLiteral("Disk")));
    static_cast<QDialog*>(panel)->accept();
    ShownWindow::settle();
    EXPECT_FALSE(response) << "a plain folder is opened, not chosen";
    EXPECT_EQ(panel->directory().absolutePath().toStdString(), folder.path("Disk"));

    ASSERT_TRUE(type(*panel, QStringLiteral("Quillmark.app")));
    static_cast<QDialog*>(panel)->accept();
    ShownWindow::settle();
    EXPECT_EQ(response, modalResponseOK);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->path(), folder.path("Disk/Quillmark.app"));
}

} // namespace
} // namespace quillmark::platform::qt
