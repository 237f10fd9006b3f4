// Pages of a fetched document as image files: each page decoded and converted exactly as the
// source converts a page for a transfer (the page tool's decoding, the shared conversion), then
// written as PNG or BMP, a band of rows at a time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "imaging/page_conversion.h"

enum class ImageFormat { Png, Bmp };

// Pages counted from 1; last 0 means to the end of the document.
struct PageRange {
    uint32_t first = 1;
    uint32_t last = 0;
};

struct ImageSettings {
    bool wanted = false;  // images instead of the document file
    PageRange range;
    ConversionSettings conversion;
    ImageFormat format = ImageFormat::Png;
};

const char* ImageExtension(ImageFormat format);

// Decodes page (from 1) of the open document, converts it and writes the image file at path.
// False with the reason; a file that could not be written whole is removed.
bool WritePageImage(FILE* document, uint32_t page, const ImageSettings& settings, const std::string& path,
                    std::string& problem);
