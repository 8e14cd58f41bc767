#pragma once
// Dialog templates and the resource module that holds them: a dialog is described by a table
// of controls with classes, texts, styles and rectangles in dialog units, and the window layer
// builds the widgets from it.
#include "gui/WinTypes.h"

#include <cstddef>

struct DialogControlTemplate
{
    int id;
    const wchar_t* className; // "BUTTON", "EDIT", "STATIC", "MfcEditBrowse", "SysLink"
    const wchar_t* text;
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy; // dialog units
};

// One setting of the template's dialog-init data, for a control.
struct DialogInitEntry
{
    int controlId;
    const char* name;
    const wchar_t* value;
};

struct DialogTemplate
{
    UINT id;
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy; // dialog units; cx and cy give the client area
    const wchar_t* caption;
    const wchar_t* fontName;
    int pointSize;
    int weight;
    bool italic;
    int charset;
    const DialogControlTemplate* controls; // template order, which is also the tab order
    std::size_t controlCount;
    const DialogInitEntry* initData;
    std::size_t initCount;
};

// The application's resources: dialog templates and icons by id.
struct ResourceModule
{
    const DialogTemplate* (*findDialog)(UINT id);
    HICON (*loadIcon)(UINT id); // the icon stays valid for the process's life
};

void AfxSetResourceModule(const ResourceModule* module);
const ResourceModule* AfxGetResourceModule();
const DialogTemplate* AfxFindDialogTemplate(UINT id);
// Null when the module has no such icon.
HICON AfxLoadIcon(UINT id);
