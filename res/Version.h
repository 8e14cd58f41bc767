#pragma once
// The program's version block.

#define PELLUCOR_COMPANY_NAME L"Vantrel"
#define PELLUCOR_PRODUCT_NAME L"Vantrel Pellucor"
#define PELLUCOR_FILE_DESCRIPTION L"Vantrel Pellucor"
#define PELLUCOR_FILE_VERSION L"1.3.0.0"
#define PELLUCOR_PRODUCT_VERSION L"1.3.0.0"
#define PELLUCOR_LEGAL_COPYRIGHT L"Copyright (C) Vantrel"
#define PELLUCOR_SHORT_VERSION L"1.3"

// The caption of the main dialog: the product name and its short version.
#define PELLUCOR_CAPTION PELLUCOR_PRODUCT_NAME L" v" PELLUCOR_SHORT_VERSION

struct VersionNumber
{
    int major, minor, patch, build;
};
constexpr VersionNumber PellucorFileVersion{1, 3, 0, 0};
constexpr VersionNumber PellucorProductVersion{1, 3, 0, 0};
