#pragma once
// Resource ids, the addresses behind the dialog's links, and the program's resource module
// (dialog templates and icons).
#include "gui/DialogTemplate.h"

constexpr UINT IDD_PELLUCOR_DIALOG = 102;
constexpr UINT IDR_MAINFRAME = 128;

constexpr int IDC_BROWSE = 1000;
constexpr int IDC_CHANGE_EXTENSION = 1001;
constexpr int IDC_TRUCK_LIST = 1003;
constexpr int IDC_SAVE_AND_CLOSE = 1004;
constexpr int IDC_NOTICE_LINK = 1005;
constexpr int IDC_HELP_LINK = 1006;

// The support page on the maker's help desk, and the maker's web site.
#define PELLUCOR_SUPPORT_URL L"https://help.example.com/support/solutions/folders/103000225078"
#define PELLUCOR_WEBSITE_URL L"https://vantrel.example.com/"

// The visible texts of the two links, without their markup.
#define PELLUCOR_HELP_LINK_TEXT L"Help"
#define PELLUCOR_NOTICE_LINK_TEXT L"Made by Vantrel - vantrel.example.com"

const ResourceModule& PellucorResources();

// The application icon drawn at `size` pixels; the icon resource holds it at 16, 32, 48 and 256.
class QImage;
QImage DrawApplicationIcon(int size);
