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
    std::vector<uint8_t> rows;   // stride x height bytes of 1-bit rows, top row first
};

// Decodes page (counted from 1) of an open document into 1-bit rows. Prints the page's
// description when describe is set. Returns false when the page cannot be found or decoded.
bool DecodeDocumentPage(FILE* document, uint32_t page, bool describe, BuiltPage& out);

// The output of a decoded page: as decoded (no settings, as for the preview), or converted with
// settings as the source does with its convert flag set. False when the settings cannot be
// applied to the page.
bool PlanPageBitmap(const BuiltPage& decoded, const ConversionSettings* settings, ConversionPlan& plan);

// Writes the page bitmap file of the plan, converting band by band (the page is never held
// twice). A file that cannot be written completely is removed.
bool WritePageBitmap(const char* path, const BuiltPage& decoded, const ConversionPlan& plan);

// Writes the decoded page as a PBM (P4) file, black = 1.
bool WritePbm(const char* path, const BuiltPage& page);
