// The page builder's work outside Windows: decode a page of a document file, convert it to
// transfer settings and write the page bitmap file, with the source's own reader, converter and
// header writer, so the file is the one the source would write.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "imaging/page_conversion.h"

struct BuiltPage {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t stride = 0;
    int32_t xResolution = 0;
    int32_t yResolution = 0;
    int pixelType = 0;
    std::vector<uint8_t> rows;   // stride x height bytes, top row first
};

// Decodes page (counted from 1) of an open document into 1-bit rows. Prints the page's
// description when describe is set. Returns false when the page cannot be found or decoded.
bool DecodeDocumentPage(FILE* document, uint32_t page, bool describe, BuiltPage& out);

// Converts a decoded page as the source does with its convert flag set. False when the
// settings cannot be applied to the page.
bool ConvertBuiltPage(BuiltPage& page, const ConversionSettings& settings);

// Writes the page bitmap file; a file that cannot be written completely is removed.
bool WriteBuiltPage(const char* path, const BuiltPage& page);

// Writes the page as a PBM (P4) file, black = 1, as decoded (1-bit pages only).
bool WritePbm(const char* path, const BuiltPage& page);
