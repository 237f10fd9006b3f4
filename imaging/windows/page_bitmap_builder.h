// Turns one page of a downloaded document file into the page bitmap file the application
// receives (or the preview shows), and makes it the CurrentPageFile. The builder takes what it
// needs as values and answers what happened: it reads no setting and shows no message itself.
#pragma once

#include <windows.h>

#include "imaging/page_conversion.h"
#include "imaging/tiff_reader.h"

// No message to show: a build that failed before it began (an empty document path).
constexpr int NoBuildMessage = -1;

struct PageBuildRequest {
    const char* documentPath = nullptr;
    int page = 1;                       // counted from 1
    const char* workDirectory = "";     // the decoding's temporary file goes here; empty: none
    bool convert = false;               // false: the page as decoded, black and white
    ConversionSettings conversion;      // with convert: resolution, pixel type, fixed size
};

struct PageBuildResult {
    int built = 0;                      // 1: the page file is written and selected
    int messageId = NoBuildMessage;     // on failure, the message the user must hear
    PageInfo info{};                    // on success, the final width, height and resolutions
};

// Decodes the page through a temporary "Bit" file in the work directory, converts it when asked,
// and writes it beside the document as "<document>~<page, 3 digits>.bmp".
PageBuildResult BuildPageBitmap(const PageBuildRequest& request);

// Converts the decoded page in bits (1-bit rows described by context) to the settings. On success
// bits holds the new rows (the old block freed, or kept when nothing needs converting) and the
// context the new width, height, bytes per row and resolutions. Returns 1 or 0.
int ConvertPageBitmap(PageDecodeContext& context, HGLOBAL& bits, const ConversionSettings& settings);
