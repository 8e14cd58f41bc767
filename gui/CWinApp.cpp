#include "gui/CWinApp.h"

#include "gui/DialogTemplate.h"
#include "gui/Platform.h"

#include <QApplication>

#include <memory>

namespace {
CWinApp* theApplication = nullptr;
const ResourceModule* resourceModule = nullptr;
} // namespace

CWinApp::CWinApp(const wchar_t* appName) : m_pszAppName(appName)
{
    if (!theApplication)
        theApplication = this;
}

CWinApp::~CWinApp()
{
    if (theApplication == this)
        theApplication = nullptr;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

int CWinApp::ExitInstance()
{
    return 0;
}

CWinApp* AfxGetApp()
{
    return theApplication;
}

int AfxWinMain(int argc, char** argv)
{
    std::unique_ptr<QApplication> qtApp;
    if (!QApplication::instance())
        qtApp = std::make_unique<QApplication>(argc, argv);
    CWinApp* app = AfxGetApp();
    if (!app)
        return -1;

    BOOL runLoop = FALSE;
    if (!gui::RunGuarded(static_cast<QWidget*>(nullptr), [&] { runLoop = app->InitInstance(); }))
        return 1;
    if (runLoop)
        QApplication::exec();
    int code = 0;
    gui::RunGuarded(static_cast<QWidget*>(nullptr), [&] { code = app->ExitInstance(); });
    return code;
}

void AfxSetResourceModule(const ResourceModule* module)
{
    resourceModule = module;
}

const ResourceModule* AfxGetResourceModule()
{
    return resourceModule;
}

const DialogTemplate* AfxFindDialogTemplate(UINT id)
{
    return resourceModule && resourceModule->findDialog ? resourceModule->findDialog(id) : nullptr;
}

HICON AfxLoadIcon(UINT id)
{
    return resourceModule && resourceModule->loadIcon ? resourceModule->loadIcon(id) : nullptr;
}
