#pragma once
// A window object: the application's view of one widget. Controls made from a dialog template
// are bound to CWnd objects by the dialog's data exchange; messages for a bound window go
// through its WindowProc and message map.
#include "gui/CCmdTarget.h"
#include "gui/WinTypes.h"

#include <string>

class CWnd : public CCmdTarget
{
public:
    CWnd() = default;
    ~CWnd() override;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;
    HWND GetSafeHwnd() const { return m_hWnd; }

    // Binds this object to an existing window; fails when either is bound already.
    BOOL SubclassWindow(HWND hWnd);
    HWND UnsubclassWindow();
    static CWnd* FromHandlePermanent(HWND hWnd);

    int GetDlgCtrlID() const;
    CWnd* GetDlgItem(int id) const; // the bound object of the child control `id`, or null
    CWnd* GetParent() const;
    // The owner if one is set, else the parent.
    CWnd* GetOwner() const;
    void SetOwner(CWnd* owner) { m_pOwner = owner; }

    virtual BOOL PreTranslateMessage(MSG* pMsg);
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    void SetWindowText(const std::wstring& text);
    std::wstring GetWindowText() const;
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    void SetFocus();

    // Rectangles in screen coordinates, and their conversion to this window's client area.
    void GetWindowRect(CRect* rect) const;
    void GetClientRect(CRect* rect) const;
    void ScreenToClient(CRect* rect) const;
    BOOL SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags);

    HICON SetIcon(HICON icon, BOOL bigIcon);
    int MessageBox(const wchar_t* text, const wchar_t* caption = nullptr, UINT type = MB_OK);
    // The size of `text` on one line in this window's font.
    CSize GetTextExtent(const std::wstring& text) const;

protected:
    // The window procedure of the window's own kind, for messages the map does not handle.
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result);

private:
    CWnd* m_pOwner = nullptr;
};

// The child window `id` of a window made from a dialog template; null when none.
HWND GetDlgItem(HWND dialog, int id);
