#include "imaging/page_bitmap_format.h"

#include <algorithm>
#include <cstring>

namespace {

// Bits per pixel and palette size by pixel type.
struct PixelFormat {
    uint16_t bitsPerPixel;
    uint32_t coloursUsed;
};

constexpr PixelFormat PixelFormats[] = {
    {1, 2},     // black and white: entry 0 black, entry 1 white
    {8, 256},   // gray: entry i is gray level i
    {24, 0},    // RGB: no palette
};

bool KnownPixelType(int pixelType) {
    return pixelType >= PixelTypeBlackWhite && pixelType <= PixelTypeRgb;
}

void Put16(uint8_t*& p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p += 2;
}

void Put32(uint8_t*& p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
    p += 4;
}

}  // namespace

uint64_t PageRowStride(uint64_t width, int pixelType) {
    switch (pixelType) {
    case PixelTypeBlackWhite: return (width + 31) / 32 * 4;
    case PixelTypeGray: return (width + 3) / 4 * 4;
    case PixelTypeRgb: return (3 * width + 3) / 4 * 4;
    default: return 0;
    }
}

int PlanPageBitmapLayout(uint32_t width, uint32_t height, int pixelType, PageBitmapLayout& layout) {
    if (!KnownPixelType(pixelType) || width == 0 || height == 0) return 0;
    // The info header holds width and height as signed 32-bit values.
    if (width > INT32_MAX || height > INT32_MAX) return 0;
    const PixelFormat format = PixelFormats[pixelType];
    const uint64_t stride = PageRowStride(width, pixelType);
    const uint64_t imageSize = stride * height;
    const uint64_t pixelOffset = BitmapFileHeaderBytes + BitmapInfoHeaderBytes + 4ull * format.coloursUsed;
    if (imageSize + pixelOffset > UINT32_MAX) return 0;
    layout.width = width;
    layout.height = height;
    layout.bitsPerPixel = format.bitsPerPixel;
    layout.coloursUsed = format.coloursUsed;
    layout.stride = static_cast<uint32_t>(stride);
    layout.imageSize = static_cast<uint32_t>(imageSize);
    layout.pixelOffset = static_cast<uint32_t>(pixelOffset);
    layout.fileSize = static_cast<uint32_t>(pixelOffset + imageSize);
    return 1;
}

int32_t PixelsPerMetre(int32_t dotsPerInch) {
    return static_cast<int32_t>(static_cast<int64_t>(dotsPerInch) * 10000 / 254);
}

void BuildBitmapFileHeader(uint32_t fileSize, uint32_t pixelOffset, uint8_t* out) {
    uint8_t* p = out;
    *p++ = 'B';
    *p++ = 'M';
    Put32(p, fileSize);
    Put16(p, 0);
    Put16(p, 0);
    Put32(p, pixelOffset);
}

uint32_t BuildPageBitmapHeaders(const PageBitmapLayout& layout, int32_t xDpi, int32_t yDpi,
                                uint8_t* out) {
    BuildBitmapFileHeader(layout.fileSize, layout.pixelOffset, out);
    uint8_t* p = out + BitmapFileHeaderBytes;
    // Info header.
    Put32(p, BitmapInfoHeaderBytes);
    Put32(p, layout.width);
    Put32(p, layout.height);
    Put16(p, 1);
    Put16(p, layout.bitsPerPixel);
    Put32(p, 0);
    Put32(p, layout.imageSize);
    Put32(p, static_cast<uint32_t>(PixelsPerMetre(xDpi)));
    Put32(p, static_cast<uint32_t>(PixelsPerMetre(yDpi)));
    Put32(p, layout.coloursUsed);
    Put32(p, 0);
    // Palette: blue, green, red, reserved. Two entries are black and white; 256 are the grays.
    for (uint32_t i = 0; i < layout.coloursUsed; ++i) {
        const auto level = static_cast<uint8_t>(layout.coloursUsed == 2 ? i * 255 : i);
        *p++ = level;
        *p++ = level;
        *p++ = level;
        *p++ = 0;
    }
    return static_cast<uint32_t>(p - out);
}

void FlipPageRows(uint8_t* rows, uint32_t rowBytes, uint32_t height) {
    for (uint32_t i = 0; i < height / 2; ++i) {
        uint8_t* top = rows + static_cast<size_t>(i) * rowBytes;
        uint8_t* bottom = rows + static_cast<size_t>(height - 1 - i) * rowBytes;
        std::swap_ranges(top, top + rowBytes, bottom);
    }
}
