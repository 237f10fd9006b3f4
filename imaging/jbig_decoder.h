// JBIG (ITU-T T.82) strips of a TIFF page, decoded by JBIG-KIT into the page's rows.
#pragma once

#include <cstdint>

#include "imaging/tiff_reader.h"

// Decodes the strip at the file's current position (byteCount bytes, a complete JBIG image of
// its own) and delivers at most rows rows of plane 0 at the page's stride. Rows the strip does
// not deliver are left to the caller, which pads the page with white rows.
void DecodeJbigStrip(PageDecodeContext& context, uint32_t byteCount, uint32_t rows);
