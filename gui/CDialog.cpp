#include "gui/CDialog.h"

#include "gui/Platform.h"
#include "gui/Widgets.h"

#include <QApplication>
#include <QPushButton>

#include <memory>

void DDX_Control(CDataExchange* pDX, int id, CWnd& control)
{
    if (!pDX || !pDX->m_pDlgWnd || control.m_hWnd)
        return;
    control.SubclassWindow(GetDlgItem(pDX->m_pDlgWnd->m_hWnd, id));
}

CDialog::CDialog(UINT templateId, CWnd* parent) : m_nIDTemplate(templateId), m_pParentWnd(parent)
{
}

CDialog::~CDialog() = default;

const MessageMap* CDialog::GetMessageMap() const
{
    static const MessageMapEntry entries[] = {
        msgmap::Command<CDialog, &CDialog::OnOK>(IDOK, BN_CLICKED),
        msgmap::Command<CDialog, &CDialog::OnCancel>(IDCANCEL, BN_CLICKED),
    };
    static const MessageMap map{CWnd::GetMessageMap(), entries, std::size(entries)};
    return &map;
}

INT_PTR CDialog::DoModal()
{
    const DialogTemplate* tmpl = AfxFindDialogTemplate(m_nIDTemplate);
    if (!tmpl || m_hWnd)
        return -1;

    auto window = std::make_unique<gui::DialogWindow>(this, m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr);
    gui::BuildDialog(*window, *tmpl);
    SubclassWindow(window.get());
    gui::InstallKeyRouter();

    m_nModalResult = -1;
    m_ended = false;
    m_running = true;
    BOOL defaultFocus = TRUE;
    gui::RunGuarded(this, [&] { defaultFocus = OnInitDialog(); });
    if (!m_ended)
    {
        if (defaultFocus)
        {
            // The first control in tab order gets the focus, as the dialog manager does it.
            QWidget* first = window->nextInFocusChain();
            while (first && first != window.get() && !(first->isEnabled() && (first->focusPolicy() & Qt::TabFocus)))
                first = first->nextInFocusChain();
            if (first && first != window.get())
                first->setFocus(Qt::TabFocusReason);
        }
        window->exec();
    }
    m_running = false;

    DetachChildren();
    UnsubclassWindow();
    window.reset();
    return m_nModalResult;
}

void CDialog::DetachChildren()
{
    if (!m_hWnd)
        return;
    for (QWidget* child : m_hWnd->findChildren<QWidget*>())
        if (CWnd* wnd = FromHandlePermanent(child))
            wnd->UnsubclassWindow();
}

void CDialog::EndDialog(int result)
{
    m_nModalResult = result;
    m_ended = true;
    if (auto* window = dynamic_cast<QDialog*>(m_hWnd))
        window->done(result);
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

BOOL CDialog::UpdateData(BOOL saveAndValidate)
{
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*)
{
}

void CDialog::OnOK()
{
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

CSize CDialog::GetBaseUnits() const
{
    return gui::DialogBaseUnits(m_hWnd ? m_hWnd->font() : QApplication::font());
}

void CDialog::MapDialogRect(CRect* rect) const
{
    if (!rect)
        return;
    const CSize units = GetBaseUnits();
    rect->left = MulDiv(rect->left, units.cx, 4);
    rect->right = MulDiv(rect->right, units.cx, 4);
    rect->top = MulDiv(rect->top, units.cy, 8);
    rect->bottom = MulDiv(rect->bottom, units.cy, 8);
}

BOOL CDialog::PreTranslateMessage(MSG* pMsg)
{
    // The dialog keyboard: Enter runs the focused push button, notifies a focused link or sends
    // the default command IDOK, unless the focused edit box wants Enter; Escape sends IDCANCEL;
    // F1 asks for help. Everything else (Tab included) Qt handles.
    if (!pMsg || pMsg->message != WM_KEYDOWN || !m_hWnd || !pMsg->hwnd || pMsg->hwnd->window() != m_hWnd)
        return FALSE;
    QWidget* focus = pMsg->hwnd;
    switch (pMsg->wParam)
    {
    case VK_RETURN:
        if (auto* edit = dynamic_cast<gui::MultiLineEdit*>(focus); edit && edit->wantsReturn())
            return FALSE;
        if (auto* button = dynamic_cast<QPushButton*>(focus))
        {
            const int id = button->property("dlgCtrlId").toInt();
            SendMessage(WM_COMMAND, MAKEWPARAM(static_cast<unsigned>(id), BN_CLICKED), reinterpret_cast<LPARAM>(focus));
            return TRUE;
        }
        if (auto* link = dynamic_cast<gui::LinkLabel*>(focus))
        {
            NMLINK notification;
            notification.hdr.hwndFrom = link;
            notification.hdr.idFrom = static_cast<UINT_PTR>(link->property("dlgCtrlId").toInt());
            notification.hdr.code = NM_RETURN;
            if (!link->anchors().empty())
            {
                notification.item.szID = gui::FromQString(link->anchors().front().id);
                notification.item.szUrl = gui::FromQString(link->anchors().front().url);
            }
            SendMessage(WM_NOTIFY, notification.hdr.idFrom, reinterpret_cast<LPARAM>(&notification));
            return TRUE;
        }
        SendMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return TRUE;
    case VK_ESCAPE:
        SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return TRUE;
    case VK_F1:
        SendMessage(WM_COMMAND, MAKEWPARAM(ID_HELP, 0), 0);
        return TRUE;
    default:
        return FALSE;
    }
}
