#pragma once
// Modal dialogs built from a dialog template, with data exchange that binds template controls
// to the dialog's members, and the dialog keyboard (Enter, Escape, F1) applied to key messages
// before the widgets see them.
#include "gui/CWnd.h"

class CDataExchange
{
public:
    CDataExchange(CWnd* dialog, BOOL saveAndValidate) : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}
    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
};

// Binds `control` to the dialog's child window `id`, once.
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);

class CDialog : public CWnd
{
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    // Builds the window from the template, initialises it and runs it until EndDialog;
    // returns the result given to EndDialog, or -1 when the template is missing.
    virtual INT_PTR DoModal();
    void EndDialog(int result);
    // Whether the dialog runs and EndDialog has not been called yet.
    bool IsModalRunning() const { return m_running && !m_ended; }

    BOOL UpdateData(BOOL saveAndValidate = TRUE);
    // Converts a rectangle from dialog units to pixels of this dialog's font.
    void MapDialogRect(CRect* rect) const;
    // The dialog font's base units in pixels: average character width and character height.
    CSize GetBaseUnits() const;

    BOOL PreTranslateMessage(MSG* pMsg) override;
    const MessageMap* GetMessageMap() const override;

protected:
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual void OnOK();
    virtual void OnCancel();

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

private:
    friend class DialogWindow;
    void DetachChildren();

    int m_nModalResult = -1;
    bool m_running = false;
    bool m_ended = false;
};

// The extended dialog of the framework; it adds nothing the application uses.
class CDialogEx : public CDialog
{
public:
    using CDialog::CDialog;
};
