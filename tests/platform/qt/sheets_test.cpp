#include "tests/platform/qt/window_fixture.hpp"

#include "tests/support/temporary_folder.hpp"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
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
