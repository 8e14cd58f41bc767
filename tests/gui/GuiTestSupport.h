#pragma once
// Running the real dialog under Qt's offscreen platform: one Qt application and one application
// object for the test process, stand-ins for message boxes, the browser and the file dialog
// that record instead of blocking, and key, mouse and drop input.
#include "gui/CDialog.h"
#include "gui/Platform.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

QT_BEGIN_NAMESPACE
// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace guitest {

// Creates the Qt application and the program's application object once.
void EnsureApplication();

struct ShownBox
{
    std::wstring text;
    std::wstring caption;
    UINT type;
};

// Records message boxes instead of showing them, for its lifetime.
class MessageBoxRecorder
{
public:
    MessageBoxRecorder();
    ~MessageBoxRecorder();
    std::vector<ShownBox> boxes;

private:
    gui::MessageBoxHandler previous;
};

// Records the addresses the browser was asked to open.
class UrlRecorder
{
public:
    UrlRecorder();
    ~UrlRecorder();
    QStringList urls;

private:
    gui::UrlOpener previous;
};

// Answers file dialogs from a queue (a null string, or an empty queue: the user cancelled) and
// records the requests.
class FileDialogStub
{
public:
    FileDialogStub();
    ~FileDialogStub();
    std::deque<QString> answers;
    std::vector<gui::FileDialogRequest> requests;

private:
    gui::FileDialogHandler previous;
};

// The result DoModal returns when the script left the dialog open and the test ended it.
constexpr int LeftOpen = 0x7F00;

// Runs `dialog` modally and plays `script` inside its message loop once the window is shown.
// When the script leaves the dialog open, it is ended with LeftOpen, so a test never hangs.
INT_PTR RunModal(CDialog& dialog, const std::function<void(QWidget* window)>& script);

// The control `id` of a dialog window (an id of -1 gives the first such control).
QWidget* Control(QWidget* window, int id);
template <class T>
T* ControlAs(QWidget* window, int id)
{
    return dynamic_cast<T*>(Control(window, id));
}

void Focus(QWidget* widget);
// Gives `widget` the focus and presses and releases `key` there.
void PressKey(QWidget* widget, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
void TypeText(QWidget* widget, const QString& text);
void Click(QWidget* widget);
// Drags the local files onto `target` and drops them there; returns whether the drop was taken.
bool DropOn(QWidget* target, const std::vector<std::filesystem::path>& files);

// A small definition archive written by a peer tool (Python's zipfile unless told otherwise):
// per truck an engine folder entry, an engine and a transmission file carrying accessory lines,
// and a file outside those folders. Returns the archive's path.
std::filesystem::path MakeDefinitionArchive(const std::filesystem::path& path, const std::vector<std::string>& trucks,
                                            bool withInfoZip = false);

} // namespace guitest
