// Turns one page of a downloaded document file into the page bitmap file the application
// receives (or the preview shows), and makes it the CurrentPageFile.
#pragma once

#include <windows.h>

#include "imaging/tiff_reader.h"

// Decodes page (counted from 1) of the document file through a temporary "Bit" file in the work
// directory, converts it to the transfer settings when convert is set, and writes it beside the
// document as "<document>~<page, 3 digits>.bmp". Returns 1, or 0 after the failure has been
// reported through the pending message (no message for an empty path). info, when given,
// receives the final width, height and resolutions.
int BuildPageBitmap(const char* documentPath, int page, bool convert, PageInfo* info);

// Converts the decoded page in bits (1-bit rows described by context) to the resolution, fixed
// size and pixel type of the transfer settings. On success bits holds the new rows (the old block
// freed, or kept when nothing needs converting) and the context the new width, height, bytes per
// row and resolutions. Returns 1 or 0.
int ConvertPageBitmap(PageDecodeContext& context, HGLOBAL& bits);
