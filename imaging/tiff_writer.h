// A page held as rows written as a single-page baseline TIFF file (little-endian): 1-bit pages
// T.6 coded as one strip, gray and colour pages PackBits coded in strips of about 8 KiB, with the
// page's resolution in dots per inch.
#pragma once

#include <cstdint>

#include "imaging/page_io.h"

// A page as the page bitmap holds it, top row first.
struct TiffPageRows {
    const uint8_t* rows = nullptr;
    uint32_t stride = 0;          // bytes from one row to the next
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bitsPerPixel = 0;    // 1; 8 (gray, 0 black); 24 (blue, green, red per pixel)
    uint8_t white = 0xFF;         // 1 bit: the byte of an all-white row (0xFF: 1-bits are white)
    uint32_t xDpi = 0;
    uint32_t yDpi = 0;
};

// Writes the file through write. Returns 1, or 0 for a page it cannot describe (bit depth, a zero
// size or resolution, a stride shorter than a row, a file past 4 GiB), a buffer it cannot have
// or a write that falls short; what was written then is the caller's to delete.
int WriteTiffPage(const TiffPageRows& page, WriteOp write, void* file);
