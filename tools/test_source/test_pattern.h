// The pixels of the test source's pages, so that a test can tell what arrived from what was
// sent. page counts from 0, x and y from the top left corner.
#pragma once

#include <cstdint>

// 1 bit per pixel: true for white.
inline bool PatternWhite(int page, int x, int y)
{
    return (x * 3 + y * 5 + page) % 7 < 3;
}

// 8 bits per pixel, grey: 0 is black.
inline uint8_t PatternGray(int page, int x, int y)
{
    return static_cast<uint8_t>(x * 7 + y * 13 + page * 31);
}

// 24 bits per pixel: red, green, blue.
inline void PatternRgb(int page, int x, int y, uint8_t rgb[3])
{
    rgb[0] = static_cast<uint8_t>(x * 5 + page * 17);
    rgb[1] = static_cast<uint8_t>(y * 3 + x);
    rgb[2] = static_cast<uint8_t>((x + y) * 11 + page);
}

// The colour a viewer shows for pixel (x, y), as 0xRRGGBB.
inline uint32_t PatternColour(int page, int bits, int x, int y)
{
    if (bits == 1)
        return PatternWhite(page, x, y) ? 0xFFFFFFu : 0u;
    if (bits == 8) {
        uint32_t g = PatternGray(page, x, y);
        return g << 16 | g << 8 | g;
    }
    uint8_t rgb[3];
    PatternRgb(page, x, y, rgb);
    return uint32_t(rgb[0]) << 16 | uint32_t(rgb[1]) << 8 | rgb[2];
}
