// ITU-T T.6 coding of 1-bit rows: what the fax decoder's T.6 mode reads, written for the TIFF
// files of a file transfer.
#pragma once

#include <cstdint>

#include "imaging/page_io.h"

// Codes height rows of width pixels as one T.6 strip ending in the end-of-facsimile-block, bits
// filled most significant first (TIFF FillOrder 1). Rows lie stride bytes apart, pixel 0 in the
// most significant bit of byte 0; bits past the width are ignored. white is the byte of an
// all-white row: 0xFF when 1-bits are white (a page bitmap), 0x00 when they are black. The first
// row is coded against an all-white row. Bytes go out through write in pieces; returns the number
// of bytes written, or 0 when a write falls short or a buffer cannot be had.
uint64_t EncodeT6(const uint8_t* rows, uint32_t stride, uint32_t width, uint32_t height, uint8_t white,
                  WriteOp write, void* file);
