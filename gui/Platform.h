#pragma once
// The services of the desktop that the dialog uses: message boxes, opening an address in the
// default browser, the file-open dialog and dropped files. Each goes through one replaceable
// function, so that tests can record what would have been shown or opened without blocking.
#include "gui/WinTypes.h"

#include <QString>
#include <QStringList>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class CWnd;
class QFileDialog;
class QMessageBox;

namespace gui {

using MessageBoxHandler =
    std::function<int(QWidget* owner, const std::wstring& text, const std::wstring& caption, UINT type)>;
// Installs the message box function; an empty one restores the modal QMessageBox. Returns the
// previous function.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
int ShowMessageBox(QWidget* owner, const std::wstring& text, const std::wstring& caption, UINT type);
// Sets up a QMessageBox with caption, text and icon (used by the default handler; tests check it).
// The text is shown as written: a truck name or path that looks like markup is not rich text.
void ConfigureMessageBox(QMessageBox& box, const std::wstring& text, const std::wstring& caption, UINT type);

using UrlOpener = std::function<bool(const QString& url)>;
// Installs the function that opens an address in the default browser; empty restores
// QDesktopServices::openUrl.
UrlOpener SetUrlOpener(UrlOpener opener);

struct FileDialogRequest
{
    QWidget* parent = nullptr;
    QStringList nameFilters; // "name (*.a *.b)"
    QString defaultSuffix;
    QString initialPath;
    DWORD flags = 0; // OFN_FILEMUSTEXIST: only existing files can be chosen
};
using FileDialogHandler = std::function<std::optional<QString>(const FileDialogRequest& request)>;
// Installs the file-open dialog; empty restores the modal QFileDialog. The handler returns the
// chosen path, or nothing when the user cancelled.
FileDialogHandler SetFileDialogHandler(FileDialogHandler handler);
std::optional<QString> RunFileDialog(const FileDialogRequest& request);
// Sets up a QFileDialog as the request asks (used by the default handler; tests check it).
void ConfigureFileDialog(QFileDialog& dialog, const FileDialogRequest& request);

// Turns a filter of the form "name|patterns|name|patterns||" (patterns separated by ';')
// into the entries the Qt file dialog takes: "name (pattern pattern)". A pattern list already
// written in parentheses at the end of the name is replaced; "*.*" means every file.
QStringList ConvertFileFilter(const std::wstring& filter);

// Runs `body`, a handler called from the window system. An exception that leaves it is shown
// in an error box owned by `owner` instead of leaving the event loop (Qt aborts the program
// when an exception passes through it). Returns false when an exception was caught.
bool RunGuarded(CWnd* owner, const std::function<void()>& body);
bool RunGuarded(QWidget* owner, const std::function<void()>& body);

// The modifier keys of the keyboard message being dispatched, for GetKeyState.
void SetCurrentKeyModifiers(int qtModifiers);
void ClearCurrentKeyModifiers();

// Text conversion between the wide strings of the application and Qt. wchar_t holds UTF-32
// here; every code point below U+110000 survives the round trip.
QString ToQString(const std::wstring& text);
std::wstring FromQString(const QString& text);

} // namespace gui

// The files of one drop, as native paths, in the order the drop listed them.
struct DropFiles
{
    std::vector<std::filesystem::path> files;
};

// The path of dropped file `index`, whole (no length limit); empty when there is no such file.
std::filesystem::path DragQueryFile(HDROP drop, UINT index);
// The number of files in the drop.
UINT DragQueryFileCount(HDROP drop);

// Opens `file` with the shell verb `verb`; only "open" of an address is supported, which goes
// to the default browser. The owner, parameters, folder and show command are accepted for the
// caller's convenience and not used. Returns whether the browser was asked to open it.
bool ShellExecuteW(HWND owner, const wchar_t* verb, const wchar_t* file, const wchar_t* parameters,
                   const wchar_t* directory, int showCommand);
