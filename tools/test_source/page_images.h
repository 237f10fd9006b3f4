// The test source's pages in the three forms a transfer hands over: a DIB in global memory
// (native), a BMP file (file) and rows packed as the standard defines memory strips (top row
// first, no padding, RGB order, 1 = white).
#pragma once

#include <windows.h>

#include <cstdint>

#include "tools/test_source/source_script.h"

// Bytes of one memory-transfer row.
uint32_t PackedRowBytes(const PageSpec& shape);
// Row y (from the top) of page number page, packed.
void PackRow(const PageSpec& shape, int page, int y, uint8_t* out);

// The DIB (header, palette, rows bottom-up padded to 4 bytes) in movable global memory; null
// when memory runs out.
HGLOBAL BuildDib(const PageSpec& shape, int page, int resolution);
// The same DIB behind a BMP file header; false when the file cannot be written.
bool WriteBmpFile(const char* path, const PageSpec& shape, int page, int resolution);
