// The path field of step 1: Enter, the browse button with its file dialog, and dropped files.
#include "app/CPellucorDlg.h"
#include "gui/Widgets.h"
#include "tests/common/TestUtil.h"
#include "tests/gui/GuiTestSupport.h"

#include <QApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

using namespace guitest;

QString Qs(const std::filesystem::path& path)
{
    return QString::fromStdString(path.string());
}

class BrowseField : public ::testing::Test
{
protected:
    void SetUp() override
    {
        EnsureApplication();
        good = MakeDefinitionArchive(dir / "good.zip", {"alpha", "beta"});
        other = MakeDefinitionArchive(dir / "other.scs", {"gamma"});
        bad = dir / "notes.txt";
        testutil::WriteFile(bad, "not an archive");
    }

    QString FieldText(QWidget* window) { return ControlAs<QLineEdit>(window, 1000)->text(); }
    QString ListText(QWidget* window) { return gui::WidgetText(Control(window, 1003)); }

    testutil::TempDir dir;
    std::filesystem::path good, other, bad;
    MessageBoxRecorder boxes;
};

TEST_F(BrowseField, EnterOpensTheTypedPathAndKeepsItOnARefusal)
{
    CPellucorDlg dlg;
    RunModal(dlg, [&](QWidget* window) {
        QWidget* field = Control(window, 1000);
        PressKey(field, Qt::Key_Return);
        EXPECT_TRUE(boxes.boxes.empty()) << "Enter in an empty field does nothing";
        EXPECT_TRUE(dlg.IsModalRunning());

        TypeText(field, Qs(good));
        PressKey(field, Qt::Key_Return);
        EXPECT_TRUE(boxes.boxes.empty());
        EXPECT_EQ(ListText(window), QStringLiteral("alpha\r\nbeta\r\n"));

        ControlAs<QLineEdit>(window, 1000)->clear();
        TypeText(field, Qs(bad));
        PressKey(field, Qt::Key_Return);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].text, L"Error: This does not appear to be a valid SCS file.");
        EXPECT_EQ(boxes.boxes[0].caption, L"Error");
        EXPECT_EQ(boxes.boxes[0].type, MB_ICONERROR | MB_OK);
        EXPECT_EQ(FieldText(window), Qs(bad)) << "the typed text stays";
        EXPECT_EQ(dlg.GetArchivePath(), good) << "the good archive stays current";
        EXPECT_TRUE(dlg.IsModalRunning());
    });
}

TEST_F(BrowseField, BrowseButtonOpensAConfirmedNewPath)
{
    FileDialogStub files;
    CPellucorDlg dlg;
    RunModal(dlg, [&](QWidget* window) {
        auto* field = ControlAs<gui::BrowseEdit>(window, 1000);
        files.answers = {Qs(good)};
        Click(field->browseButton());
        ASSERT_EQ(files.requests.size(), 1u);
        const gui::FileDialogRequest& request = files.requests[0];
        EXPECT_EQ(request.nameFilters,
                  (QStringList{QStringLiteral("open_def files (*.scs *.zip)"), QStringLiteral("All files (*)")}));
        EXPECT_EQ(request.flags, OFN_FILEMUSTEXIST);
        EXPECT_EQ(request.parent, window);
        EXPECT_EQ(FieldText(window), Qs(good));
        EXPECT_EQ(ListText(window), QStringLiteral("alpha\r\nbeta\r\n"));

        // The same path again is not opened again: the edited list stays.
        gui::SetWidgetText(Control(window, 1003), QStringLiteral("edited\r\n"));
        files.answers = {Qs(good)};
        Click(field->browseButton());
        EXPECT_EQ(files.requests.back().initialPath, Qs(good));
        EXPECT_EQ(ListText(window), QStringLiteral("edited\r\n"));

        // Cancelling changes nothing.
        files.answers = {QString()};
        Click(field->browseButton());
        EXPECT_EQ(FieldText(window), Qs(good));

        // Alt+Down in the field runs the browse button too.
        files.answers = {Qs(other)};
        PressKey(field, Qt::Key_Down, Qt::AltModifier);
        EXPECT_EQ(files.requests.size(), 4u);
        EXPECT_EQ(ListText(window), QStringLiteral("gamma\r\n"));
        EXPECT_EQ(dlg.GetArchivePath(), other);
    });
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(BrowseField, RefusedPickOrDropPutsTheLastGoodPathBack)
{
    FileDialogStub files;
    CPellucorDlg dlg;
    RunModal(dlg, [&](QWidget* window) {
        auto* field = ControlAs<gui::BrowseEdit>(window, 1000);
        files.answers = {Qs(bad)};
        Click(field->browseButton());
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(FieldText(window), QString()) << "nothing was open before";

        ASSERT_TRUE(DropOn(field, {good}));
        EXPECT_EQ(FieldText(window), Qs(good));

        files.answers = {Qs(bad)};
        Click(field->browseButton());
        EXPECT_EQ(FieldText(window), Qs(good));

        ASSERT_TRUE(DropOn(field, {bad}));
        EXPECT_EQ(boxes.boxes.size(), 3u);
        EXPECT_EQ(FieldText(window), Qs(good));
        EXPECT_EQ(dlg.GetArchivePath(), good);
    });
}

TEST_F(BrowseField, DropOpensTheFirstFileWithItsWholePath)
{
    // A path far beyond 260 characters.
    std::filesystem::path deep = dir.path();
    for (int i = 0; i < 6; ++i)
        deep /= std::string(60, static_cast<char>('a' + i));
    std::filesystem::create_directories(deep);
    const auto longPath = MakeDefinitionArchive(deep / "long name with blanks.zip", {"delta"});
    ASSERT_GT(longPath.string().size(), 400u);

    CPellucorDlg dlg;
    RunModal(dlg, [&](QWidget* window) {
        QWidget* field = Control(window, 1000);
        ASSERT_TRUE(DropOn(field, {longPath, good}));
        EXPECT_EQ(FieldText(window), Qs(longPath));
        EXPECT_EQ(dlg.GetArchivePath(), longPath);
        EXPECT_EQ(ListText(window), QStringLiteral("delta\r\n"));

        // Dropping the file the field shows opens it again.
        gui::SetWidgetText(Control(window, 1003), QStringLiteral("edited\r\n"));
        ASSERT_TRUE(DropOn(field, {longPath}));
        EXPECT_EQ(ListText(window), QStringLiteral("delta\r\n"));

        // Drops that hold no local file are refused, and so are drops on other controls.
        QMimeData text;
        text.setText(QStringLiteral("/tmp/whatever.zip"));
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(field, &enter);
        EXPECT_FALSE(enter.isAccepted());
        EXPECT_FALSE(DropOn(Control(window, 1003), {good}));
        EXPECT_EQ(dlg.GetArchivePath(), longPath);
    });
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(BrowseField, DroppedNameThatIsNotUtf8IsOpenedByItsBytes)
{
    const auto odd = dir / std::string("pack\xE9\xFF.zip");
    std::filesystem::copy_file(good, odd);
    CPellucorDlg dlg;
    RunModal(dlg, [&](QWidget* window) {
        QMimeData mime;
        mime.setUrls({QUrl(QStringLiteral("file://") + QString::fromLatin1(QByteArray(odd.c_str()).toPercentEncoding("/")))});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QWidget* field = Control(window, 1000);
        QApplication::sendEvent(field, &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(field, &drop);
        EXPECT_EQ(dlg.GetArchivePath(), odd);
    });
    EXPECT_TRUE(boxes.boxes.empty());
}

} // namespace
