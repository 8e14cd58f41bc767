#include "app/CPellucorDlg.h"

#include "gui/Platform.h"

#include <algorithm>

static_assert(PellucorEditor::DialogResultOk == IDOK, "the editor ends the dialog with its OK result");

CPellucorDlg::CPellucorDlg(CWnd* parent) : CDialogEx(IDD, parent)
{
    m_hIcon = AfxLoadIcon(IDR_MAINFRAME);
}

CPellucorDlg::~CPellucorDlg() = default;

const MessageMap* CPellucorDlg::GetMessageMap() const
{
    static const MessageMapEntry entries[] = {
        msgmap::Command<CPellucorDlg, &CPellucorDlg::OnSaveAndClose>(IDC_SAVE_AND_CLOSE, BN_CLICKED),
        msgmap::Notify<CPellucorDlg, &CPellucorDlg::OnLinkClick>(IDC_NOTICE_LINK, NM_CLICK),
        msgmap::Notify<CPellucorDlg, &CPellucorDlg::OnLinkClick>(IDC_NOTICE_LINK, NM_RETURN),
        msgmap::Notify<CPellucorDlg, &CPellucorDlg::OnLinkClick>(IDC_HELP_LINK, NM_CLICK),
        msgmap::Notify<CPellucorDlg, &CPellucorDlg::OnLinkClick>(IDC_HELP_LINK, NM_RETURN),
    };
    static const MessageMap map{CDialogEx::GetMessageMap(), entries, std::size(entries)};
    return &map;
}

void CPellucorDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialogEx::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_BROWSE, m_browse);
    DDX_Control(pDX, IDC_TRUCK_LIST, m_truckList);
    DDX_Control(pDX, IDC_CHANGE_EXTENSION, m_changeExtension);
    DDX_Control(pDX, IDC_HELP_LINK, m_helpLink);
    DDX_Control(pDX, IDC_NOTICE_LINK, m_noticeLink);
}

BOOL CPellucorDlg::OnInitDialog()
{
    CDialogEx::OnInitDialog();

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    m_browse.EnableFileBrowseButton(nullptr, L"open_def files (*.scs, *.zip)|*.scs;*.zip|All files|*.*||",
                                    OFN_FILEMUSTEXIST);
    m_changeExtension.SetCheck(BST_CHECKED);

    // The help link moves to the bottom-right corner of its template rectangle, the notice link
    // to the bottom of its own; each takes the size its text needs.
    PlaceLink(m_helpLink, PELLUCOR_HELP_LINK_TEXT, true);
    PlaceLink(m_noticeLink, PELLUCOR_NOTICE_LINK_TEXT, false);
    return TRUE;
}

void CPellucorDlg::PlaceLink(CLinkCtrl& link, const std::wstring& text, bool keepRightEdge)
{
    CRect rect;
    link.GetWindowRect(&rect);
    ScreenToClient(&rect);
    const CSize ideal = GetLinkIdealSize(link, text, rect.Width());
    const int height = std::min(ideal.cy, rect.Height());
    if (ideal.cx == 0 || height == 0)
        return;
    if (keepRightEdge)
        rect = CRect{rect.right - ideal.cx, rect.bottom - height, rect.right, rect.bottom};
    else
        rect = CRect{rect.left, rect.bottom - height, rect.right, rect.bottom};
    link.SetWindowPos(nullptr, rect.left, rect.top, rect.Width(), rect.Height(),
                      SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
}

CSize CPellucorDlg::GetLinkIdealSize(CLinkCtrl& link, const std::wstring& text, int maxWidth)
{
    SIZE size{0, 0};
    link.GetIdealSize(maxWidth, &size);
    if (size.cx != 0 && size.cy != 0)
        return size;
    CSize extent = GetTextExtent(text);
    extent.cx = std::min(extent.cx, maxWidth);
    return extent;
}

BOOL CPellucorDlg::PreTranslateMessage(MSG* pMsg)
{
    // Escape never ends the dialog, whichever control has the focus.
    if (pMsg->message == WM_KEYDOWN && pMsg->wParam == static_cast<WPARAM>(VK_ESCAPE))
        return TRUE;
    return CDialogEx::PreTranslateMessage(pMsg);
}

LRESULT CPellucorDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    // The IDOK command (Enter in the dialog) does nothing: only "Save and close" ends the dialog
    // with IDOK.
    if (message == WM_COMMAND && HIWORD(wParam) == 0 && LOWORD(wParam) == IDOK)
        return 1;
    return CWnd::WindowProc(message, wParam, lParam);
}

void CPellucorDlg::OnLinkClick(NMHDR* pNMHDR, LRESULT* pResult)
{
    const auto* link = reinterpret_cast<const NMLINK*>(pNMHDR);
    ShellExecuteW(nullptr, L"open", link->item.szUrl.c_str(), nullptr, nullptr, SW_SHOW);
    *pResult = 1;
}

void CPellucorDlg::ShowError(const std::wstring& text)
{
    MessageBox(text.c_str(), L"Error", MB_ICONERROR | MB_OK);
}

std::wstring CPellucorDlg::GetTruckListText()
{
    return m_truckList.GetWindowText();
}

void CPellucorDlg::SetTruckListText(const std::wstring& text)
{
    m_truckList.SetWindowText(text);
}

void CPellucorDlg::EnableChangeExtension(bool enable)
{
    m_changeExtension.EnableWindow(enable ? TRUE : FALSE);
}

bool CPellucorDlg::IsChangeExtensionEnabled()
{
    return m_changeExtension.IsWindowEnabled() != FALSE;
}

void CPellucorDlg::SetChangeExtensionCheck(bool checked)
{
    m_changeExtension.SetCheck(checked ? BST_CHECKED : BST_UNCHECKED);
}

bool CPellucorDlg::IsChangeExtensionChecked()
{
    return m_changeExtension.GetCheck() == BST_CHECKED;
}

void CPellucorDlg::CloseDialog(int result)
{
    EndDialog(result);
}
