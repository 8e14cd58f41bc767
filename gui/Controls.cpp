#include "gui/Controls.h"

#include "gui/Platform.h"
#include "gui/Widgets.h"

#include <QAbstractButton>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextCursor>

// --- CEdit -----------------------------------------------------------------------------------

void CEdit::SetSel(int start, int end, BOOL noScroll)
{
    SendMessage(EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(end));
    if (!noScroll)
        SendMessage(EM_SCROLLCARET);
}

LRESULT CEdit::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == EM_SETSEL)
    {
        // Positions count characters of the widget's text; -1 as the end means the end of the
        // text, and the caret goes to the end of the selection.
        const int start = static_cast<int>(static_cast<std::intptr_t>(wParam));
        const int end = static_cast<int>(lParam);
        if (auto* edit = dynamic_cast<QPlainTextEdit*>(m_hWnd))
        {
            QTextCursor cursor(edit->document());
            cursor.movePosition(QTextCursor::End);
            const int length = cursor.position();
            const int from = start < 0 ? length : std::min(start, length);
            const int to = end < 0 ? length : std::min(end, length);
            cursor.setPosition(from);
            cursor.setPosition(to, QTextCursor::KeepAnchor);
            edit->setTextCursor(cursor);
        }
        else if (auto* line = dynamic_cast<QLineEdit*>(m_hWnd))
        {
            const int length = static_cast<int>(line->text().size());
            const int from = start < 0 ? length : std::min(start, length);
            const int to = end < 0 ? length : std::min(end, length);
            line->setSelection(from, to - from);
        }
        return 0;
    }
    if (message == EM_SCROLLCARET)
    {
        if (auto* edit = dynamic_cast<QPlainTextEdit*>(m_hWnd))
            edit->ensureCursorVisible();
        return TRUE;
    }
    return CWnd::DefWindowProc(message, wParam, lParam);
}

// --- CButton ---------------------------------------------------------------------------------

void CButton::SetCheck(int check)
{
    SendMessage(BM_SETCHECK, static_cast<WPARAM>(check));
}

int CButton::GetCheck() const
{
    auto* button = dynamic_cast<QAbstractButton*>(m_hWnd);
    return button && button->isChecked() ? BST_CHECKED : BST_UNCHECKED;
}

LRESULT CButton::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == BM_SETCHECK)
    {
        if (auto* button = dynamic_cast<QAbstractButton*>(m_hWnd))
            button->setChecked(wParam == BST_CHECKED);
        return 0;
    }
    if (message == BM_GETCHECK)
        return GetCheck();
    return CWnd::DefWindowProc(message, wParam, lParam);
}

// --- CLinkCtrl -------------------------------------------------------------------------------

int CLinkCtrl::GetIdealSize(int maxWidth, SIZE* size)
{
    return static_cast<int>(SendMessage(LM_GETIDEALSIZE, static_cast<WPARAM>(maxWidth), reinterpret_cast<LPARAM>(size)));
}

LRESULT CLinkCtrl::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == LM_GETIDEALSIZE)
    {
        auto* size = reinterpret_cast<SIZE*>(lParam);
        auto* link = dynamic_cast<gui::LinkLabel*>(m_hWnd);
        CSize ideal;
        if (link && !link->visibleText().isEmpty())
        {
            const QSize hint = link->sizeHint();
            ideal = CSize{std::min(hint.width(), static_cast<int>(wParam)), hint.height()};
        }
        if (size)
            *size = ideal;
        return ideal.cy;
    }
    return CWnd::DefWindowProc(message, wParam, lParam);
}

// --- CMFCEditBrowseCtrl ----------------------------------------------------------------------

void CMFCEditBrowseCtrl::EnableFileBrowseButton(const wchar_t* defaultExtension, const wchar_t* filter, DWORD flags)
{
    m_mode = BrowseMode_File;
    m_modeChosen = true;
    m_defaultExtension = defaultExtension ? QString::fromWCharArray(defaultExtension) : QString();
    m_filters = gui::ConvertFileFilter(filter ? std::wstring(filter) : std::wstring(L"All Files (*.*)|*.*||"));
    m_flags = flags;
    if (auto* edit = dynamic_cast<gui::BrowseEdit*>(m_hWnd))
        edit->setBrowseButtonVisible(true);
}

CMFCEditBrowseCtrl::BrowseMode CMFCEditBrowseCtrl::GetMode() const
{
    if (m_modeChosen || !m_hWnd)
        return m_mode;
    bool ok = false;
    const int mode = m_hWnd->property("MFCEditBrowse_Mode").toString().toInt(&ok);
    return ok && mode >= BrowseMode_None && mode <= BrowseMode_Folder ? static_cast<BrowseMode>(mode) : m_mode;
}

BOOL CMFCEditBrowseCtrl::PreTranslateMessage(MSG* pMsg)
{
    if (GetMode() != BrowseMode_None && pMsg && pMsg->message == WM_SYSKEYDOWN &&
        (pMsg->wParam == static_cast<WPARAM>(VK_DOWN) || pMsg->wParam == static_cast<WPARAM>(VK_RIGHT)))
    {
        OnBrowse();
        return TRUE;
    }
    return CEdit::PreTranslateMessage(pMsg);
}

void CMFCEditBrowseCtrl::OnBrowse()
{
    if (GetMode() != BrowseMode_File || !m_hWnd)
        return;
    gui::FileDialogRequest request;
    request.parent = m_hWnd->window();
    request.nameFilters = m_filters;
    request.defaultSuffix = m_defaultExtension;
    request.initialPath = gui::ToQString(GetWindowText());
    request.flags = m_flags;
    const std::optional<QString> chosen = gui::RunFileDialog(request);
    if (!m_hWnd)
        return;
    SetFocus();
    if (!chosen || chosen->isEmpty())
        return;
    const std::wstring path = gui::FromQString(QDir::toNativeSeparators(*chosen));
    if (path == GetWindowText())
        return;
    SetWindowText(path);
    OnAfterUpdate();
}

void CMFCEditBrowseCtrl::OnAfterUpdate()
{
}
