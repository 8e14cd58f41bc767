#include "app/CPellucorApp.h"

#include "app/CPellucorDlg.h"
#include "gui/Platform.h"
#include "res/Resources.h"

CPellucorApp::CPellucorApp() : CWinApp(nullptr)
{
    AfxSetResourceModule(&PellucorResources());
}

const MessageMap* CPellucorApp::GetMessageMap() const
{
    static const MessageMapEntry entries[] = {
        msgmap::Command<CPellucorApp, &CPellucorApp::OnHelp>(ID_HELP),
    };
    static const MessageMap map{CWinApp::GetMessageMap(), entries, std::size(entries)};
    return &map;
}

BOOL CPellucorApp::InitInstance()
{
    CWinApp::InitInstance();

    CPellucorDlg dlg;
    m_pMainWnd = &dlg;
    // However the dialog ends, the program ends.
    dlg.DoModal();
    m_pMainWnd = nullptr;
    return FALSE;
}

void CPellucorApp::OnHelp()
{
    ShellExecuteW(nullptr, L"open", PELLUCOR_SUPPORT_URL, nullptr, nullptr, SW_SHOW);
}
