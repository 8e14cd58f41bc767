// The main dialog's keyboard and mouse rules: Enter and Escape, the close button, Ctrl+A in the
// list, "Save and close", the links and the help key.
#include "app/CPellucorDlg.h"
#include "gui/Widgets.h"
#include "tests/common/TestUtil.h"
#include "tests/gui/GuiTestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using namespace guitest;

QString ListText(QWidget* window)
{
    return gui::WidgetText(Control(window, 1003));
}

TEST(MainDialogKeyboard, EnterInTheListInsertsALineBreak)
{
    EnsureApplication();
    MessageBoxRecorder boxes;
    CPellucorDlg dlg;
    RunModal(dlg, [&](QWidget* window) {
        QWidget* list = Control(window, 1003);
        TypeText(list, "alpha");
        PressKey(list, Qt::Key_Return);
        TypeText(list, "beta");
        PressKey(list, Qt::Key_Enter, Qt::ShiftModifier);
        TypeText(list, "gamma");
        EXPECT_EQ(ListText(window), QStringLiteral("alpha\r\nbeta\r\ngamma"));
        EXPECT_TRUE(dlg.IsModalRunning());
    });
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST(MainDialogKeyboard, EnterAndEscapeNeverEndTheDialog)
{
    EnsureApplication();
    MessageBoxRecorder boxes;
    UrlRecorder urls;
    CPellucorDlg dlg;
    const INT_PTR result = RunModal(dlg, [&](QWidget* window) {
        auto* check = ControlAs<QCheckBox>(window, 1001);
        const bool checked = check->isChecked();
        PressKey(check, Qt::Key_Return);
        EXPECT_TRUE(dlg.IsModalRunning()) << "Enter on the checkbox";
        EXPECT_EQ(check->isChecked(), checked);

        for (int id : {1004, 1000, 1003, 1001, 1006, 1005})
        {
            PressKey(Control(window, id), Qt::Key_Escape);
            EXPECT_TRUE(dlg.IsModalRunning()) << "Escape in control " << id;
        }
        EXPECT_TRUE(ListText(window).isEmpty()) << "Escape typed nothing";
    });
    EXPECT_EQ(result, LeftOpen);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_TRUE(urls.urls.isEmpty());
}

TEST(MainDialogKeyboard, CloseButtonEndsWithoutWritingAnything)
{
    EnsureApplication();
    testutil::TempDir dir;
    const auto archive = MakeDefinitionArchive(dir / "pack.zip", {"alpha", "beta"});
    const std::string before = testutil::ReadFile(archive);
    MessageBoxRecorder boxes;
    CPellucorDlg dlg;
    const INT_PTR result = RunModal(dlg, [&](QWidget* window) {
        TypeText(Control(window, 1000), QString::fromStdString(archive.string()));
        PressKey(Control(window, 1000), Qt::Key_Return);
        ASSERT_TRUE(dlg.HasArchive());
        TypeText(Control(window, 1003), "gamma");
        window->close();
        QApplication::processEvents();
        EXPECT_FALSE(dlg.IsModalRunning());
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(testutil::ReadFile(archive), before);
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        files.push_back(entry.path().filename().string());
    EXPECT_EQ(files, std::vector<std::string>{"pack.zip"});
}

TEST(MainDialogKeyboard, CtrlASelectsTheWholeListAndShowsTheCaret)
{
    EnsureApplication();
    CPellucorDlg dlg;
    RunModal(dlg, [&](QWidget* window) {
        auto* list = ControlAs<QPlainTextEdit>(window, 1003);
        QString text;
        for (int i = 0; i < 200; ++i)
            text += QStringLiteral("truck%1\r\n").arg(i);
        gui::SetWidgetText(list, text);
        list->moveCursor(QTextCursor::Start);
        list->verticalScrollBar()->setValue(0);

        PressKey(list, Qt::Key_A, Qt::ControlModifier);
        const QTextCursor cursor = list->textCursor();
        EXPECT_EQ(cursor.selectionStart(), 0);
        EXPECT_EQ(cursor.selectionEnd(), list->document()->characterCount() - 1);
        EXPECT_EQ(cursor.position(), cursor.selectionEnd()) << "the caret stands at the end";
        EXPECT_TRUE(list->viewport()->rect().intersects(list->cursorRect())) << "the caret is scrolled into view";
        EXPECT_EQ(ListText(window), text) << "Ctrl+A typed nothing";

        PressKey(list, Qt::Key_Right);
        PressKey(list, Qt::Key_A);
        EXPECT_TRUE(ListText(window).endsWith(QStringLiteral("\r\na"))) << "A without Ctrl types the letter";
    });
}

TEST(MainDialogKeyboard, SaveAndCloseWithoutAnArchiveEndsTheDialog)
{
    EnsureApplication();
    MessageBoxRecorder boxes;
    {
        CPellucorDlg dlg;
        EXPECT_EQ(RunModal(dlg, [&](QWidget* window) { Click(Control(window, 1004)); }), IDOK);
    }
    {
        // Enter on the focused button presses it, as the dialog keyboard does.
        CPellucorDlg dlg;
        EXPECT_EQ(RunModal(dlg, [&](QWidget* window) { PressKey(Control(window, 1004), Qt::Key_Return); }), IDOK);
    }
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST(MainDialogKeyboard, LinksAndHelpOpenTheirAddresses)
{
    EnsureApplication();
    UrlRecorder urls;
    const QString help = QStringLiteral("https://help.example.com/support/solutions/folders/103000225078");
    const QString site = QStringLiteral("https://vantrel.example.com/");
    CPellucorDlg dlg;
    RunModal(dlg, [&](QWidget* window) {
        QWidget* helpLink = Control(window, 1006);
        QWidget* noticeLink = Control(window, 1005);
        const QPoint onHelp(4, helpLink->height() / 2);
        QTest::mouseClick(helpLink, Qt::LeftButton, Qt::NoModifier, onHelp);
        const int anchorX = noticeLink->fontMetrics().horizontalAdvance(QStringLiteral("Made by Vantrel - ")) + 6;
        QTest::mouseClick(noticeLink, Qt::LeftButton, Qt::NoModifier, QPoint(anchorX, noticeLink->height() / 2));
        EXPECT_EQ(urls.urls, (QStringList{help, site})) << "mouse clicks";

        urls.urls.clear();
        PressKey(helpLink, Qt::Key_Return);
        PressKey(noticeLink, Qt::Key_Return);
        EXPECT_EQ(urls.urls, (QStringList{help, site})) << "Enter on a focused link";

        urls.urls.clear();
        PressKey(Control(window, 1003), Qt::Key_F1);
        EXPECT_EQ(urls.urls, QStringList{help}) << "the help key";
        EXPECT_TRUE(dlg.IsModalRunning());
    });
}

} // namespace
