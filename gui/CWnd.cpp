#include "gui/CWnd.h"

#include "gui/CWinApp.h"
#include "gui/Platform.h"
#include "gui/Widgets.h"

#include <QFontMetrics>
#include <QIcon>
#include <QWidget>

#include <unordered_map>

namespace {

struct Binding
{
    CWnd* wnd;
    QMetaObject::Connection destroyed;
};

// Bound windows: the widget of each window object, and back.
std::unordered_map<QWidget*, Binding>& Bindings()
{
    static std::unordered_map<QWidget*, Binding> bindings;
    return bindings;
}

} // namespace

CWnd::~CWnd()
{
    UnsubclassWindow();
}

BOOL CWnd::SubclassWindow(HWND hWnd)
{
    if (!hWnd || m_hWnd || Bindings().count(hWnd))
        return FALSE;
    m_hWnd = hWnd;
    // When Qt destroys the widget first, the object forgets it.
    auto connection = QObject::connect(hWnd, &QObject::destroyed, [this, hWnd] {
        Bindings().erase(hWnd);
        if (m_hWnd == hWnd)
            m_hWnd = nullptr;
    });
    Bindings().emplace(hWnd, Binding{this, connection});
    return TRUE;
}

HWND CWnd::UnsubclassWindow()
{
    HWND old = m_hWnd;
    if (!old)
        return nullptr;
    auto it = Bindings().find(old);
    if (it != Bindings().end() && it->second.wnd == this)
    {
        QObject::disconnect(it->second.destroyed);
        Bindings().erase(it);
    }
    m_hWnd = nullptr;
    return old;
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd)
{
    auto it = Bindings().find(hWnd);
    return it == Bindings().end() ? nullptr : it->second.wnd;
}

int CWnd::GetDlgCtrlID() const
{
    if (!m_hWnd)
        return 0;
    bool ok = false;
    const int id = m_hWnd->property("dlgCtrlId").toInt(&ok);
    return ok ? id : 0;
}

HWND GetDlgItem(HWND dialog, int id)
{
    if (!dialog)
        return nullptr;
    for (QWidget* child : dialog->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
    {
        bool ok = false;
        if (child->property("dlgCtrlId").toInt(&ok) == id && ok)
            return child;
    }
    return nullptr;
}

CWnd* CWnd::GetDlgItem(int id) const
{
    return FromHandlePermanent(::GetDlgItem(m_hWnd, id));
}

CWnd* CWnd::GetParent() const
{
    return m_hWnd ? FromHandlePermanent(m_hWnd->parentWidget()) : nullptr;
}

CWnd* CWnd::GetOwner() const
{
    return m_pOwner ? m_pOwner : GetParent();
}

BOOL CWnd::PreTranslateMessage(MSG*)
{
    return FALSE;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result))
        result = DefWindowProc(message, wParam, lParam);
    return result;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return WindowProc(message, wParam, lParam);
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    *result = 0;
    if (message == WM_COMMAND)
        return OnCommand(wParam, lParam);
    if (message == WM_NOTIFY)
        return OnNotify(wParam, lParam, result);
    if (const MessageMapEntry* entry = FindMessageEntry(message, 0, 0))
    {
        *result = entry->thunk(this, wParam, lParam);
        return TRUE;
    }
    return FALSE;
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM)
{
    const UINT id = LOWORD(wParam);
    const UINT code = HIWORD(wParam);
    if (OnCmdMsg(id, code))
        return TRUE;
    // Commands nobody in the window handles go on to the application object.
    if (CWinApp* app = AfxGetApp(); app && app->OnCmdMsg(id, code))
        return TRUE;
    return FALSE;
}

BOOL CWnd::OnNotify(WPARAM, LPARAM lParam, LRESULT* result)
{
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (!header)
        return FALSE;
    const MessageMapEntry* entry = FindMessageEntry(WM_NOTIFY, header->code, static_cast<UINT>(header->idFrom));
    if (!entry)
        return FALSE;
    *result = entry->thunk(this, 0, lParam);
    return TRUE;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM, LPARAM lParam)
{
    if (message == WM_SETICON && m_hWnd)
    {
        // Qt keeps one icon per window, holding every size; big and small are the same here.
        if (auto icon = reinterpret_cast<HICON>(lParam))
            m_hWnd->setWindowIcon(*icon);
        else
            m_hWnd->setWindowIcon(QIcon());
    }
    return 0;
}

void CWnd::SetWindowText(const std::wstring& text)
{
    gui::SetWidgetText(m_hWnd, gui::ToQString(text));
}

std::wstring CWnd::GetWindowText() const
{
    return gui::FromQString(gui::WidgetText(m_hWnd));
}

BOOL CWnd::EnableWindow(BOOL enable)
{
    if (!m_hWnd)
        return FALSE;
    const BOOL wasDisabled = m_hWnd->isEnabled() ? FALSE : TRUE;
    m_hWnd->setEnabled(enable != FALSE);
    return wasDisabled;
}

BOOL CWnd::IsWindowEnabled() const
{
    return m_hWnd && m_hWnd->isEnabled() ? TRUE : FALSE;
}

void CWnd::SetFocus()
{
    if (m_hWnd)
        m_hWnd->setFocus(Qt::OtherFocusReason);
}

void CWnd::GetWindowRect(CRect* rect) const
{
    if (!m_hWnd || !rect)
        return;
    const QPoint topLeft = m_hWnd->mapToGlobal(QPoint(0, 0));
    *rect = CRect{topLeft.x(), topLeft.y(), topLeft.x() + m_hWnd->width(), topLeft.y() + m_hWnd->height()};
}

void CWnd::GetClientRect(CRect* rect) const
{
    if (!m_hWnd || !rect)
        return;
    *rect = CRect{0, 0, m_hWnd->width(), m_hWnd->height()};
}

void CWnd::ScreenToClient(CRect* rect) const
{
    if (!m_hWnd || !rect)
        return;
    const QPoint topLeft = m_hWnd->mapFromGlobal(QPoint(rect->left, rect->top));
    const int width = rect->Width();
    const int height = rect->Height();
    *rect = CRect{topLeft.x(), topLeft.y(), topLeft.x() + width, topLeft.y() + height};
}

BOOL CWnd::SetWindowPos(const CWnd*, int x, int y, int cx, int cy, UINT flags)
{
    if (!m_hWnd)
        return FALSE;
    // Stacking and activation are left as they are; only position and size change.
    if (!(flags & SWP_NOMOVE))
        m_hWnd->move(x, y);
    if (!(flags & SWP_NOSIZE))
        m_hWnd->resize(cx, cy);
    return TRUE;
}

HICON CWnd::SetIcon(HICON icon, BOOL bigIcon)
{
    return reinterpret_cast<HICON>(SendMessage(WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
}

int CWnd::MessageBox(const wchar_t* text, const wchar_t* caption, UINT type)
{
    // Without a caption the box is captioned "Error", as the desktop does it.
    return gui::ShowMessageBox(m_hWnd, text ? std::wstring(text) : std::wstring(),
                               caption ? std::wstring(caption) : std::wstring(L"Error"), type);
}

CSize CWnd::GetTextExtent(const std::wstring& text) const
{
    const QFontMetrics metrics = m_hWnd ? m_hWnd->fontMetrics() : QFontMetrics(QFont());
    const QSize size = metrics.size(Qt::TextSingleLine, gui::ToQString(text));
    return CSize{size.width(), size.height()};
}
