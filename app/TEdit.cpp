#include "app/TEdit.h"

TEdit::~TEdit() = default;

BOOL TEdit::PreTranslateMessage(MSG* pMsg)
{
    if (pMsg->hwnd == m_hWnd && pMsg->message == WM_KEYDOWN && pMsg->wParam == static_cast<WPARAM>('A') &&
        GetKeyState(VK_CONTROL) < 0)
    {
        SendMessage(EM_SETSEL, 0, -1);
        SendMessage(EM_SCROLLCARET);
        return TRUE;
    }
    return CWnd::PreTranslateMessage(pMsg);
}
