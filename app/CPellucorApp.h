#pragma once
// The application object: runs the main dialog modally and ends the program when it closes,
// and answers the help command by opening the support page.
#include "gui/CWinApp.h"

class CPellucorApp : public CWinApp
{
public:
    CPellucorApp();

    BOOL InitInstance() override;
    const MessageMap* GetMessageMap() const override;

    void OnHelp();
};
