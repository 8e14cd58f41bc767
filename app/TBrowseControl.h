#pragma once
// The path field of step 1: an edit box with a browse button that opens the archive as soon as a
// path is picked with the button, entered with Enter, or dropped on the field.
#include "gui/Controls.h"

class CPellucorDlg;

class TBrowseControl : public CMFCEditBrowseCtrl
{
public:
    ~TBrowseControl() override;

    const MessageMap* GetMessageMap() const override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    void OnAfterUpdate() override;
    void OnDropFiles(HDROP hDropInfo);

private:
    CPellucorDlg* Dialog() const;
    // Shows the dialog's current archive path again (empty when none is open).
    void RestoreArchivePath();
};
