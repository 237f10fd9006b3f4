// The page bitmap file: a BMP file whose pixel rows are stored top row first although its height
// is positive, so other readers see it upside down until the rows are flipped. The Windows page
// store and the command-line page tool both build their headers here, so their files are
// byte-identical.
#pragma once

#include <cstdint>

// TWAIN pixel types as the transfer settings hold them.
constexpr int PixelTypeBlackWhite = 0;
constexpr int PixelTypeGray = 1;
constexpr int PixelTypeRgb = 2;

constexpr uint32_t BitmapFileHeaderBytes = 14;
constexpr uint32_t BitmapInfoHeaderBytes = 40;
constexpr uint32_t MaxPaletteBytes = 256 * 4;
// File header, info header and the largest palette: what precedes the pixel rows.
constexpr uint32_t MaxPageBitmapHeaderBytes = BitmapFileHeaderBytes + BitmapInfoHeaderBytes + MaxPaletteBytes;

// Sizes of a page bitmap of one pixel type.
struct PageBitmapLayout {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bitsPerPixel = 0;
    uint32_t coloursUsed = 0;
    uint32_t stride = 0;        // bytes per row, a multiple of 4
    uint32_t imageSize = 0;     // stride x height
    uint32_t pixelOffset = 0;   // 54 + palette bytes
    uint32_t fileSize = 0;      // pixel offset + image size
};

// Row stride of a pixel type; 0 for a pixel type other than 0, 1 and 2.
uint64_t PageRowStride(uint64_t width, int pixelType);

// Fills the layout; 0 for an unsupported pixel type, a zero width or height, or a page whose
// file would not fit the format's 32-bit sizes.
int PlanPageBitmapLayout(uint32_t width, uint32_t height, int pixelType, PageBitmapLayout& layout);

// Pixels per metre of a resolution in dots per inch, truncated (200 dpi gives 7874).
int32_t PixelsPerMetre(int32_t dotsPerInch);

// Writes the 14-byte file header: "BM", file size, two reserved words, pixel data offset.
void BuildBitmapFileHeader(uint32_t fileSize, uint32_t pixelOffset, uint8_t* out);

// Writes the 14-byte file header, the 40-byte info header and the palette into out (room for
// MaxPageBitmapHeaderBytes); returns the number of bytes written, the layout's pixel offset.
uint32_t BuildPageBitmapHeaders(const PageBitmapLayout& layout, int32_t xDpi, int32_t yDpi,
                                uint8_t* out);

// Reverses the order of height rows of rowBytes each, in place: row i changes places with row
// height - 1 - i, the middle row of an odd height stays.
void FlipPageRows(uint8_t* rows, uint32_t rowBytes, uint32_t height);
