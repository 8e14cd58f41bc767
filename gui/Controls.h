#pragma once
// The controls the dialog binds: edit boxes, buttons, link controls and the edit box with a
// browse button.
#include "gui/CWnd.h"

#include <QStringList>

#include <string>

class CEdit : public CWnd
{
public:
    // Selects from `start` to `end` (-1: the end of the text) and, unless told not to, scrolls
    // the caret into view.
    void SetSel(int start, int end, BOOL noScroll = FALSE);

protected:
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};

class CButton : public CWnd
{
public:
    void SetCheck(int check);
    int GetCheck() const;

protected:
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};

class CLinkCtrl : public CWnd
{
public:
    // The size the link needs for at most `maxWidth` pixels of width (LM_GETIDEALSIZE); 0 by 0
    // when the control has nothing to show.
    int GetIdealSize(int maxWidth, SIZE* size);

protected:
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};

class CMFCEditBrowseCtrl : public CEdit
{
public:
    enum BrowseMode
    {
        BrowseMode_None = 0,
        BrowseMode_Default = 1,
        BrowseMode_File = 2,
        BrowseMode_Folder = 3,
    };

    // Makes the browse button open the file dialog with `filter` ("name|patterns|...||").
    void EnableFileBrowseButton(const wchar_t* defaultExtension = nullptr, const wchar_t* filter = nullptr,
                                DWORD flags = 0);
    // The mode chosen by the code, else the one of the template's dialog-init data.
    BrowseMode GetMode() const;
    const QStringList& GetFileFilters() const { return m_filters; }
    DWORD GetFileDialogFlags() const { return m_flags; }

    // Alt+Down and Alt+Right run the browse button.
    BOOL PreTranslateMessage(MSG* pMsg) override;
    // What the browse button does: in file mode, the file dialog; when the user confirmed a path
    // that differs from the field's text, the field takes it and OnAfterUpdate runs.
    virtual void OnBrowse();
    virtual void OnAfterUpdate();

private:
    BrowseMode m_mode = BrowseMode_Default;
    bool m_modeChosen = false;
    QStringList m_filters;
    QString m_defaultExtension;
    DWORD m_flags = 0;
};
