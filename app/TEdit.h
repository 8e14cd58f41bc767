#pragma once
// The multi-line truck list of step 2, where Ctrl+A selects the whole list.
#include "gui/Controls.h"

class TEdit : public CEdit
{
public:
    ~TEdit() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
};
