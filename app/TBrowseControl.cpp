#include "app/TBrowseControl.h"

#include "app/CPellucorDlg.h"
#include "editor/TextCodec.h"
#include "gui/Platform.h"

TBrowseControl::~TBrowseControl() = default;

const MessageMap* TBrowseControl::GetMessageMap() const
{
    static const MessageMapEntry entries[] = {
        msgmap::DropFiles<TBrowseControl, &TBrowseControl::OnDropFiles>(),
    };
    static const MessageMap map{CMFCEditBrowseCtrl::GetMessageMap(), entries, std::size(entries)};
    return &map;
}

CPellucorDlg* TBrowseControl::Dialog() const
{
    return dynamic_cast<CPellucorDlg*>(GetOwner());
}

void TBrowseControl::RestoreArchivePath()
{
    if (CPellucorDlg* dialog = Dialog())
        SetWindowText(text::WideFromPath(dialog->GetArchivePath()));
}

void TBrowseControl::OnAfterUpdate()
{
    CPellucorDlg* dialog = Dialog();
    if (!dialog)
        return;
    if (!dialog->OpenArchive(GetWindowText()))
        RestoreArchivePath();
}

BOOL TBrowseControl::PreTranslateMessage(MSG* pMsg)
{
    if (pMsg->message == WM_KEYDOWN && pMsg->wParam == static_cast<WPARAM>(VK_RETURN))
    {
        // Enter opens the typed path; the field keeps the text even when that fails, and Enter
        // never reaches the dialog, empty field included.
        const std::wstring path = GetWindowText();
        if (!path.empty())
            if (CPellucorDlg* dialog = Dialog())
                dialog->OpenArchive(path);
        return TRUE;
    }
    return CMFCEditBrowseCtrl::PreTranslateMessage(pMsg);
}

void TBrowseControl::OnDropFiles(HDROP hDropInfo)
{
    // Only the first file counts; its whole path is used, however long.
    const std::filesystem::path dropped = DragQueryFile(hDropInfo, 0);
    if (dropped.empty())
        return;
    const std::wstring path = text::WideFromPath(dropped);
    SetWindowText(path);
    CPellucorDlg* dialog = Dialog();
    if (dialog && !dialog->OpenArchive(path))
        RestoreArchivePath();
}
