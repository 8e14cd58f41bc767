#include "tests/gui/GuiTestSupport.h"

#include "app/CPellucorApp.h"
#include "tests/common/DefinitionArchives.h"
#include "tests/common/TestUtil.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>


// Fontconfig keeps what it allocates until the process ends; the leak check of sanitizer builds
// is not to count that against us.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

namespace guitest {

void EnsureApplication()
{
    // Both live until the process ends and are never destroyed: a QApplication destroyed by the
    // exit handlers outlives parts of Qt and crashes on the xcb platform.
    static int argc = 1;
    static char name[] = "gui_tests";
    static char* argv[] = {name, nullptr};
    static bool made = false;
    if (!made)
    {
        new QApplication(argc, argv);
        new CPellucorApp;
        made = true;
    }
}

MessageBoxRecorder::MessageBoxRecorder()
{
    previous = gui::SetMessageBoxHandler([this](QWidget*, const std::wstring& text, const std::wstring& caption, UINT type) {
        boxes.push_back({text, caption, type});
        return IDOK;
    });
}

MessageBoxRecorder::~MessageBoxRecorder()
{
    gui::SetMessageBoxHandler(std::move(previous));
}

UrlRecorder::UrlRecorder()
{
    previous = gui::SetUrlOpener([this](const QString& url) {
        urls.append(url);
        return true;
    });
}

UrlRecorder::~UrlRecorder()
{
    gui::SetUrlOpener(std::move(previous));
}

FileDialogStub::FileDialogStub()
{
    previous = gui::SetFileDialogHandler([this](const gui::FileDialogRequest& request) -> std::optional<QString> {
        requests.push_back(request);
        if (answers.empty())
            return std::nullopt;
        const QString answer = answers.front();
        answers.pop_front();
        if (answer.isNull())
            return std::nullopt;
        return std::make_optional(answer);
    });
}

FileDialogStub::~FileDialogStub()
{
    gui::SetFileDialogHandler(std::move(previous));
}

INT_PTR RunModal(CDialog& dialog, const std::function<void(QWidget* window)>& script)
{
    EnsureApplication();
    bool played = false;
    // A timer of this frame: when DoModal fails at once, it dies unfired with the frame.
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QWidget* window = dialog.GetSafeHwnd();
        if (window && dialog.IsModalRunning())
        {
            (void)QTest::qWaitForWindowExposed(window);
            window->activateWindow();
            (void)QTest::qWaitForWindowActive(window);
            played = true;
            script(window);
        }
        if (dialog.IsModalRunning())
            dialog.EndDialog(LeftOpen);
    });
    timer.start(0);
    const INT_PTR result = dialog.DoModal();
    if (!played)
        ADD_FAILURE() << "the dialog did not run (DoModal returned " << result << ")";
    return result;
}

QWidget* Control(QWidget* window, int id)
{
    return GetDlgItem(window, id);
}

void Focus(QWidget* widget)
{
    widget->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
}

void PressKey(QWidget* widget, Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    Focus(widget);
    QTest::keyClick(widget, key, modifiers);
    QApplication::processEvents();
}

void TypeText(QWidget* widget, const QString& text)
{
    Focus(widget);
    QTest::keyClicks(widget, text);
    QApplication::processEvents();
}

void Click(QWidget* widget)
{
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, widget->rect().center());
    QApplication::processEvents();
}

bool DropOn(QWidget* target, const std::vector<std::filesystem::path>& files)
{
    QMimeData mime;
    QList<QUrl> urls;
    for (const auto& file : files)
        urls.append(QUrl::fromLocalFile(QString::fromStdString(file.string())));
    mime.setUrls(urls);
    const QPointF at = QPointF(target->rect().center());
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    QApplication::processEvents();
    return drop.isAccepted();
}

std::filesystem::path MakeDefinitionArchive(const std::filesystem::path& path, const std::vector<std::string>& trucks,
                                            bool withInfoZip)
{
    std::vector<testutil::SampleEntry> entries;
    entries.push_back({"def/", ""});
    entries.push_back({"def/vehicle/truck/", ""});
    for (const auto& truck : trucks)
    {
        const std::string folder = "def/vehicle/truck/" + truck + "/";
        entries.push_back({folder + "engine/", ""});
        entries.push_back({folder + "engine/e400.sii",
                           "SiiNunit\r\n{\r\naccessory_engine_data : e400." + truck + ".engine\r\n{\r\n\tname: \"E400\"\r\n}\r\n}\r\n"});
        entries.push_back({folder + "transmission/t12.sii",
                           "SiiNunit\r\n{\r\naccessory_transmission_data : t12." + truck +
                               ".transmission # twelve speeds\r\n{\r\n}\r\n}\r\n"});
        entries.push_back({folder + "data.sii", "SiiNunit { }\r\n"});
    }
    testutil::BuildArchive(path, entries, withInfoZip ? testutil::ArchiveTool::InfoZip : testutil::ArchiveTool::Python,
                           testutil::ArchiveMethod::Deflate);
    return path;
}

} // namespace guitest
