#include "gui/Platform.h"

#include "gui/CWnd.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

#include <cstdlib>
#include <exception>
#include <optional>

namespace gui {

namespace {

MessageBoxHandler& CurrentMessageBoxHandler()
{
    static MessageBoxHandler handler;
    return handler;
}

UrlOpener& CurrentUrlOpener()
{
    static UrlOpener opener;
    return opener;
}

FileDialogHandler& CurrentFileDialogHandler()
{
    static FileDialogHandler handler;
    return handler;
}

thread_local std::optional<int> currentModifiers;

int DefaultMessageBox(QWidget* owner, const std::wstring& text, const std::wstring& caption, UINT type)
{
    QMessageBox box(owner ? owner->window() : nullptr);
    ConfigureMessageBox(box, text, caption, type);
    box.exec();
    return IDOK;
}

std::optional<QString> DefaultFileDialog(const FileDialogRequest& request)
{
    QFileDialog dialog(request.parent);
    ConfigureFileDialog(dialog, request);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty())
        return std::nullopt;
    return files.first();
}

void ReportException(QWidget* owner, const std::wstring& text)
{
    try
    {
        ShowMessageBox(owner, text, L"Error", MB_ICONERROR | MB_OK);
    }
    catch (...)
    {
        // Nothing more can be done about a report that fails itself.
    }
}

} // namespace

void ConfigureMessageBox(QMessageBox& box, const std::wstring& text, const std::wstring& caption, UINT type)
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (type & MB_ICONMASK)
    {
    case MB_ICONERROR: icon = QMessageBox::Critical; break;
    case MB_ICONQUESTION: icon = QMessageBox::Question; break;
    case MB_ICONWARNING: icon = QMessageBox::Warning; break;
    case MB_ICONINFORMATION: icon = QMessageBox::Information; break;
    default: break;
    }
    box.setIcon(icon);
    box.setWindowTitle(ToQString(caption));
    box.setTextFormat(Qt::PlainText);
    box.setText(ToQString(text));
    box.setStandardButtons(QMessageBox::Ok);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler)
{
    MessageBoxHandler previous = std::move(CurrentMessageBoxHandler());
    CurrentMessageBoxHandler() = std::move(handler);
    return previous;
}

int ShowMessageBox(QWidget* owner, const std::wstring& text, const std::wstring& caption, UINT type)
{
    if (const MessageBoxHandler& handler = CurrentMessageBoxHandler())
        return handler(owner, text, caption, type);
    return DefaultMessageBox(owner, text, caption, type);
}

UrlOpener SetUrlOpener(UrlOpener opener)
{
    UrlOpener previous = std::move(CurrentUrlOpener());
    CurrentUrlOpener() = std::move(opener);
    return previous;
}

FileDialogHandler SetFileDialogHandler(FileDialogHandler handler)
{
    FileDialogHandler previous = std::move(CurrentFileDialogHandler());
    CurrentFileDialogHandler() = std::move(handler);
    return previous;
}

std::optional<QString> RunFileDialog(const FileDialogRequest& request)
{
    if (const FileDialogHandler& handler = CurrentFileDialogHandler())
        return handler(request);
    return DefaultFileDialog(request);
}

void ConfigureFileDialog(QFileDialog& dialog, const FileDialogRequest& request)
{
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode((request.flags & OFN_FILEMUSTEXIST) ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setNameFilters(request.nameFilters);
    if (!request.defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(request.defaultSuffix);
    if (!request.initialPath.isEmpty())
    {
        const QFileInfo info(request.initialPath);
        dialog.setDirectory(info.absolutePath());
        dialog.selectFile(info.fileName());
    }
}

QStringList ConvertFileFilter(const std::wstring& filter)
{
    const QStringList parts = ToQString(filter).split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
    {
        QString name = parts[i].trimmed();
        if (name.isEmpty())
            break;
        // A name that shows its patterns in parentheses gets them in Qt's form instead.
        if (name.endsWith(u')'))
        {
            const qsizetype open = name.lastIndexOf(u'(');
            if (open >= 0)
                name = name.left(open).trimmed();
        }
        QStringList patterns;
        for (const QString& p : parts[i + 1].split(u';', Qt::SkipEmptyParts))
        {
            const QString pattern = p.trimmed();
            if (!pattern.isEmpty())
                patterns.append(pattern == QStringLiteral("*.*") ? QStringLiteral("*") : pattern);
        }
        if (patterns.isEmpty())
            patterns.append(QStringLiteral("*"));
        filters.append(QStringLiteral("%1 (%2)").arg(name, patterns.join(u' ')));
    }
    return filters;
}

bool RunGuarded(QWidget* owner, const std::function<void()>& body)
{
    try
    {
        body();
        return true;
    }
    catch (const std::exception& e)
    {
        ReportException(owner, L"Error: " + FromQString(QString::fromLocal8Bit(e.what())));
    }
    catch (...)
    {
        ReportException(owner, L"Error: An unexpected failure occurred.");
    }
    return false;
}

bool RunGuarded(CWnd* owner, const std::function<void()>& body)
{
    QWidget* widget = owner ? owner->m_hWnd : nullptr;
    return RunGuarded(widget ? widget->window() : nullptr, body);
}

void SetCurrentKeyModifiers(int qtModifiers)
{
    currentModifiers = qtModifiers;
}

void ClearCurrentKeyModifiers()
{
    currentModifiers.reset();
}

QString ToQString(const std::wstring& text)
{
    static_assert(sizeof(wchar_t) == 4, "wide text is UTF-32 on this platform");
    QString out;
    out.reserve(static_cast<qsizetype>(text.size()));
    for (wchar_t w : text)
    {
        const auto cp = static_cast<char32_t>(w);
        if (cp >= 0x10000 && cp < 0x110000)
        {
            out += QChar(QChar::highSurrogate(cp));
            out += QChar(QChar::lowSurrogate(cp));
        }
        else if (cp < 0x10000)
            out += QChar(static_cast<char16_t>(cp));
        else
            out += QChar(QChar::ReplacementCharacter);
    }
    return out;
}

std::wstring FromQString(const QString& text)
{
    std::wstring out;
    out.reserve(static_cast<size_t>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i)
    {
        const char16_t c = text.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && QChar::isLowSurrogate(text.at(i + 1).unicode()))
        {
            out.push_back(static_cast<wchar_t>(QChar::surrogateToUcs4(c, text.at(i + 1).unicode())));
            ++i;
        }
        else
            out.push_back(static_cast<wchar_t>(c));
    }
    return out;
}

} // namespace gui

std::filesystem::path DragQueryFile(HDROP drop, UINT index)
{
    if (!drop || index >= drop->files.size())
        return {};
    return drop->files[index];
}

UINT DragQueryFileCount(HDROP drop)
{
    return drop ? static_cast<UINT>(drop->files.size()) : 0;
}

bool ShellExecuteW(HWND, const wchar_t* verb, const wchar_t* file, const wchar_t*, const wchar_t*, int)
{
    if (!file || (verb && std::wstring(verb) != L"open"))
        return false;
    const QUrl url(gui::ToQString(file));
    if (const gui::UrlOpener& opener = gui::CurrentUrlOpener())
        return opener(url.toString());
    return QDesktopServices::openUrl(url);
}

int MulDiv(int a, int b, int c)
{
    if (c == 0)
        return -1;
    const long long product = static_cast<long long>(a) * b;
    const long long half = (c > 0 ? c : -c) / 2;
    // Round half away from zero.
    const bool negative = (product < 0) != (c < 0);
    const long long absolute = (product < 0 ? -product : product) + half;
    const long long quotient = absolute / (c > 0 ? c : -c);
    return static_cast<int>(negative ? -quotient : quotient);
}

SHORT GetKeyState(int virtualKey)
{
    int modifiers = 0;
    if (gui::currentModifiers)
        modifiers = *gui::currentModifiers;
    else if (qApp)
        modifiers = static_cast<int>(QGuiApplication::queryKeyboardModifiers());
    Qt::KeyboardModifier flag;
    switch (virtualKey)
    {
    case VK_CONTROL: flag = Qt::ControlModifier; break;
    case VK_SHIFT: flag = Qt::ShiftModifier; break;
    case VK_MENU: flag = Qt::AltModifier; break;
    default: return 0;
    }
    return (modifiers & flag) ? static_cast<SHORT>(-128) : static_cast<SHORT>(0);
}
