#pragma once
// The application object and the program entry that runs it: one object per process; the
// entry creates the Qt application, calls InitInstance, runs a message loop only when
// InitInstance asks for one, and returns ExitInstance's code.
#include "gui/CCmdTarget.h"

class CWnd;

class CWinApp : public CCmdTarget
{
public:
    explicit CWinApp(const wchar_t* appName = nullptr);
    ~CWinApp() override;
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance();
    virtual int ExitInstance();

    CWnd* m_pMainWnd = nullptr;
    const wchar_t* m_pszAppName;
};

// The application object of the process; null when none exists.
CWinApp* AfxGetApp();

// The program entry: returns the process exit code.
int AfxWinMain(int argc, char** argv);
