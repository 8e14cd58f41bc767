#pragma once
// The main dialog: three steps (choose an archive, edit the truck list, save) on dialog
// template 102. The archive work is the editor logic it derives from; the dialog supplies the
// window operations that logic needs from its controls.
#include "editor/PellucorEditor.h"
#include "app/TBrowseControl.h"
#include "app/TEdit.h"
#include "gui/CDialog.h"
#include "gui/Controls.h"
#include "res/Resources.h"

#include <string>

class CPellucorDlg : public CDialogEx, public PellucorEditor
{
public:
    enum { IDD = IDD_PELLUCOR_DIALOG };

    explicit CPellucorDlg(CWnd* parent = nullptr);
    ~CPellucorDlg() override;

    // The ideal size of a link for at most `maxWidth` pixels; when the link reports none, the
    // extent of `text` in the dialog's font, no wider than `maxWidth`.
    CSize GetLinkIdealSize(CLinkCtrl& link, const std::wstring& text, int maxWidth);

    const MessageMap* GetMessageMap() const override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL OnInitDialog() override;

    void OnLinkClick(NMHDR* pNMHDR, LRESULT* pResult);

    // Window operations of the editor logic.
    void ShowError(const std::wstring& text) override;
    std::wstring GetTruckListText() override;
    void SetTruckListText(const std::wstring& text) override;
    void EnableChangeExtension(bool enable) override;
    bool IsChangeExtensionEnabled() override;
    void SetChangeExtensionCheck(bool checked) override;
    bool IsChangeExtensionChecked() override;
    void CloseDialog(int result) override;

    TBrowseControl m_browse;
    TEdit m_truckList;
    CButton m_changeExtension;
    HICON m_hIcon = nullptr;
    CLinkCtrl m_helpLink;
    CLinkCtrl m_noticeLink;

private:
    void PlaceLink(CLinkCtrl& link, const std::wstring& text, bool keepRightEdge);
};
