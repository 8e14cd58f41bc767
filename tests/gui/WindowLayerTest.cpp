// The window layer on its own, with a small dialog of the test's: the order in which key
// presses are offered, exceptions that leave handlers, the default dialog keyboard, the text of
// multi-line edit boxes, and file filters.
#include "gui/CDialog.h"
#include "gui/Controls.h"
#include "gui/Platform.h"
#include "gui/Widgets.h"
#include "res/Resources.h"
#include "tests/gui/GuiTestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QClipboard>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using namespace guitest;

constexpr UINT TestDialogId = 900;
constexpr DWORD Child = WS_CHILD | WS_VISIBLE | WS_TABSTOP;

const DialogControlTemplate testControls[] = {
    {10, L"EDIT", L"", Child | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_AUTOHSCROLL | ES_WANTRETURN, 0, 5, 5, 100, 50},
    {11, L"BUTTON", L"Fail", Child | BS_PUSHBUTTON, 0, 5, 60, 50, 14},
    {12, L"EDIT", L"", Child | WS_BORDER | ES_AUTOHSCROLL, 0, 5, 80, 100, 14},
};

const DialogTemplate testDialog = {
    TestDialogId, WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, 0, 120, 100, L"Layer test", L"MS Shell Dlg", 8, 0, false, 1,
    testControls, std::size(testControls), nullptr, 0,
};

const ResourceModule testModule{
    [](UINT id) { return id == TestDialogId ? &testDialog : PellucorResources().findDialog(id); },
    [](UINT id) { return PellucorResources().loadIcon(id); },
};

// The test's dialog in place of the program's resources while it lives.
class ScopedResources
{
public:
    ScopedResources() : previous(AfxGetResourceModule()) { AfxSetResourceModule(&testModule); }
    ~ScopedResources() { AfxSetResourceModule(previous); }

private:
    const ResourceModule* previous;
};

class RecordingEdit : public CEdit
{
public:
    std::vector<std::string>* log = nullptr;
    BOOL PreTranslateMessage(MSG* pMsg) override
    {
        log->push_back("edit " + std::to_string(pMsg->wParam));
        if (pMsg->wParam == 'X')
            return TRUE;
        if (pMsg->wParam == 'T')
            throw std::runtime_error("key handler failed");
        return CEdit::PreTranslateMessage(pMsg);
    }
};

class TestDialog : public CDialog
{
public:
    TestDialog() : CDialog(TestDialogId) { edit.log = &log; }

    const MessageMap* GetMessageMap() const override
    {
        static const MessageMapEntry entries[] = {msgmap::Command<TestDialog, &TestDialog::OnFail>(11, BN_CLICKED)};
        static const MessageMap map{CDialog::GetMessageMap(), entries, std::size(entries)};
        return &map;
    }

    BOOL PreTranslateMessage(MSG* pMsg) override
    {
        log.push_back("dialog " + std::to_string(pMsg->wParam));
        return CDialog::PreTranslateMessage(pMsg);
    }

    void OnFail() { throw std::runtime_error("handler failed"); }

    std::vector<std::string> log;
    RecordingEdit edit;

protected:
    void DoDataExchange(CDataExchange* pDX) override { DDX_Control(pDX, 10, edit); }
};

class WindowLayer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        EnsureApplication(); // which installs the program's resources
        resources.emplace();
    }
    std::optional<ScopedResources> resources;
    MessageBoxRecorder boxes;
};

TEST_F(WindowLayer, KeysGoToTheFocusedControlThenTheDialogBeforeTheWidget)
{
    TestDialog dlg;
    RunModal(dlg, [&](QWidget* window) {
        QWidget* edit = Control(window, 10);
        PressKey(edit, Qt::Key_X);
        EXPECT_EQ(dlg.log, std::vector<std::string>{"edit 88"}) << "swallowed by the control";
        EXPECT_EQ(gui::WidgetText(edit), QString());
        dlg.log.clear();
        PressKey(edit, Qt::Key_Y);
        EXPECT_EQ(dlg.log, (std::vector<std::string>{"edit 89", "dialog 89"}));
        EXPECT_EQ(gui::WidgetText(edit), QStringLiteral("y"));
        // A window without a bound object is skipped; the dialog still sees the key.
        dlg.log.clear();
        PressKey(Control(window, 12), Qt::Key_Z);
        EXPECT_EQ(dlg.log, std::vector<std::string>{"dialog 90"});
    });
}

TEST_F(WindowLayer, ExceptionLeavingAHandlerIsShownAndTheDialogGoesOn)
{
    TestDialog dlg;
    RunModal(dlg, [&](QWidget* window) {
        Click(Control(window, 11));
        PressKey(Control(window, 10), Qt::Key_T);
        EXPECT_TRUE(dlg.IsModalRunning());
        EXPECT_EQ(gui::WidgetText(Control(window, 10)), QString()) << "a key whose handling failed is not typed";
    });
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[0].text, L"Error: handler failed");
    EXPECT_EQ(boxes.boxes[1].text, L"Error: key handler failed");
    for (const auto& box : boxes.boxes)
    {
        EXPECT_EQ(box.caption, L"Error");
        EXPECT_EQ(box.type, MB_ICONERROR | MB_OK);
    }
}

TEST_F(WindowLayer, DefaultDialogKeyboardSendsOkAndCancel)
{
    {
        TestDialog dlg;
        EXPECT_EQ(RunModal(dlg, [&](QWidget* window) { PressKey(Control(window, 12), Qt::Key_Return); }), IDOK);
    }
    {
        TestDialog dlg;
        EXPECT_EQ(RunModal(dlg, [&](QWidget* window) { PressKey(Control(window, 10), Qt::Key_Escape); }), IDCANCEL);
    }
}

TEST_F(WindowLayer, MultiLineEditGivesBackTheTextItWasGiven)
{
    TestDialog dlg;
    RunModal(dlg, [&](QWidget* window) {
        QWidget* edit = Control(window, 10);
        // CR LF line breaks, a lone CR, a no-break space, a code point standing for a raw byte,
        // a character outside the basic plane, and no line break at the end.
        const std::wstring text = L"alpha\r\nbe\rta\r\n\r\nno\u00A0break\r\n\uF7FF\U0001F69A";
        dlg.edit.SetWindowText(text);
        EXPECT_EQ(dlg.edit.GetWindowText(), text);
        EXPECT_EQ(dynamic_cast<QPlainTextEdit*>(edit)->document()->blockCount(), 5);

        // Pasted text keeps a lone CR as well.
        dlg.edit.SetWindowText(L"");
        QApplication::clipboard()->setText(QStringLiteral("p\rq\r\nr"));
        PressKey(edit, Qt::Key_V, Qt::ControlModifier);
        EXPECT_EQ(dlg.edit.GetWindowText(), L"p\rq\r\nr");
    });
}

TEST(WindowLayerText, WideTextSurvivesQt)
{
    const std::wstring text = L"a\u00E9\uF780\uFFFF\U0001F69A\U0010FFFF";
    EXPECT_EQ(gui::FromQString(gui::ToQString(text)), text);
    EXPECT_EQ(gui::ToQString(L"\U0001F69A").size(), 2);
}

TEST(WindowLayerFileDialog, FiltersTakeQtsFormAndFlagsChooseTheMode)
{
    EXPECT_EQ(gui::ConvertFileFilter(L"open_def files (*.scs, *.zip)|*.scs;*.zip|All files|*.*||"),
              (QStringList{QStringLiteral("open_def files (*.scs *.zip)"), QStringLiteral("All files (*)")}));
    EXPECT_EQ(gui::ConvertFileFilter(L"Text|*.txt"), QStringList{QStringLiteral("Text (*.txt)")});
    EXPECT_EQ(gui::ConvertFileFilter(L""), QStringList{});

    EnsureApplication();
    gui::FileDialogRequest request;
    request.nameFilters = gui::ConvertFileFilter(L"Archives|*.scs;*.zip||");
    request.flags = OFN_FILEMUSTEXIST;
    request.initialPath = QStringLiteral("/tmp/pack.zip");
    QFileDialog dialog;
    gui::ConfigureFileDialog(dialog, request);
    EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(dialog.nameFilters(), QStringList{QStringLiteral("Archives (*.scs *.zip)")});
    EXPECT_EQ(dialog.directory().absolutePath(), QStringLiteral("/tmp"));
    request.flags = 0;
    gui::ConfigureFileDialog(dialog, request);
    EXPECT_EQ(dialog.fileMode(), QFileDialog::AnyFile);
}

TEST(WindowLayerMessageBox, TextThatLooksLikeMarkupIsShownAsWritten)
{
    EnsureApplication();
    QMessageBox box;
    gui::ConfigureMessageBox(box, L"Error: Invalid truck name in Step 2: <b>x</b>", L"Error", MB_ICONERROR | MB_OK);
    EXPECT_EQ(box.windowTitle(), QStringLiteral("Error"));
    EXPECT_EQ(box.icon(), QMessageBox::Critical);
    EXPECT_EQ(box.standardButtons(), QMessageBox::Ok);
    auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_EQ(label->text(), QStringLiteral("Error: Invalid truck name in Step 2: <b>x</b>"));
}

} // namespace
