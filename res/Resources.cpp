#include "res/Resources.h"

#include "res/Version.h"

#include <QIcon>
#include <QImage>
#include <QPixmap>

#include <iterator>

namespace {

// Dialog template 102: the main dialog. Template order is the tab order.
const DialogControlTemplate mainDialogControls[] = {
    {IDC_SAVE_AND_CLOSE, L"BUTTON", L"Save and close", 0x50010F00, 0, 128, 231, 70, 14},
    {IDC_BROWSE, L"MfcEditBrowse", L"", 0x50810080, 0x00000010, 11, 17, 187, 14},
    {IDC_TRUCK_LIST, L"EDIT", L"", 0x50A11084, 0, 11, 57, 187, 135},
    {IDC_STATIC, L"STATIC", L"If you add/remove trucks from this list, please keep one truck (def name) per line.",
     0x50020000, 0, 11, 194, 187, 18},
    {IDC_CHANGE_EXTENSION, L"BUTTON", L"Change extension to .scs", 0x50010003, 0, 11, 233, 97, 10},
    {IDC_STATIC, L"BUTTON", L"Step 1: Select  open definition archive", 0x50000007, 0, 7, 7, 197, 31},
    {IDC_STATIC, L"BUTTON", L"Step 2: Configure which truck(s) can use these engines", 0x50000007, 0, 7, 46, 197, 169},
    {IDC_STATIC, L"BUTTON", L"Step 3: Save", 0x50000007, 0, 7, 222, 197, 28},
    {IDC_HELP_LINK, L"SysLink", L"<a href=\"" PELLUCOR_SUPPORT_URL L"\">" PELLUCOR_HELP_LINK_TEXT L"</a>", 0x50010000, 0, 178,
     253, 26, 18},
    {IDC_NOTICE_LINK, L"SysLink", L"Made by Vantrel - <a href=\"" PELLUCOR_WEBSITE_URL L"\">vantrel.example.com</a>",
     0x50010000, 0, 7, 253, 168, 18},
};

const DialogInitEntry mainDialogInit[] = {
    {IDC_BROWSE, "MFCEditBrowse_Mode", L"1"},
};

const DialogTemplate mainDialog = {
    IDD_PELLUCOR_DIALOG,
    0x90C800C8,
    0x00040000,
    0,
    0,
    211,
    278,
    PELLUCOR_CAPTION,
    L"MS Shell Dlg",
    8,
    0,
    false,
    1,
    mainDialogControls,
    std::size(mainDialogControls),
    mainDialogInit,
    std::size(mainDialogInit),
};

const DialogTemplate* FindDialog(UINT id)
{
    return id == IDD_PELLUCOR_DIALOG ? &mainDialog : nullptr;
}

HICON LoadIcon(UINT id)
{
    if (id != IDR_MAINFRAME)
        return nullptr;
    // Drawn once, on first use (a Qt application must exist by then), and kept for the process.
    static const QIcon* icon = [] {
        auto* made = new QIcon;
        for (int size : {16, 32, 48, 256})
            made->addPixmap(QPixmap::fromImage(DrawApplicationIcon(size)));
        return made;
    }();
    return icon;
}

const ResourceModule module{&FindDialog, &LoadIcon};

} // namespace

const ResourceModule& PellucorResources()
{
    return module;
}
