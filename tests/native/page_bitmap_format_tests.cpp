// Page bitmap headers byte by byte, and the row flip.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "imaging/page_bitmap_format.h"

namespace {

uint32_t Read32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
uint16_t Read16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

std::vector<uint8_t> Headers(uint32_t w, uint32_t h, int pixelType, int32_t xDpi, int32_t yDpi) {
    PageBitmapLayout layout;
    EXPECT_EQ(1, PlanPageBitmapLayout(w, h, pixelType, layout));
    std::vector<uint8_t> out(MaxPageBitmapHeaderBytes, 0xEE);
    out.resize(BuildPageBitmapHeaders(layout, xDpi, yDpi, out.data()));
    return out;
}

}  // namespace

TEST(PageBitmapFormat, BlackAndWhiteFaxPageHeaders)
{
    const std::vector<uint8_t> h = Headers(1728, 2200, PixelTypeBlackWhite, 200, 200);
    ASSERT_EQ(62u, h.size());
    EXPECT_EQ('B', h[0]);
    EXPECT_EQ('M', h[1]);
    EXPECT_EQ(475262u, Read32(&h[2]));
    EXPECT_EQ(0u, Read32(&h[6]));        // both reserved words
    EXPECT_EQ(62u, Read32(&h[10]));
    EXPECT_EQ(40u, Read32(&h[14]));
    EXPECT_EQ(1728u, Read32(&h[18]));
    EXPECT_EQ(2200u, Read32(&h[22]));    // positive although the rows are stored top first
    EXPECT_EQ(1, Read16(&h[26]));
    EXPECT_EQ(1, Read16(&h[28]));
    EXPECT_EQ(0u, Read32(&h[30]));
    EXPECT_EQ(475200u, Read32(&h[34]));
    EXPECT_EQ(7874u, Read32(&h[38]));
    EXPECT_EQ(7874u, Read32(&h[42]));
    EXPECT_EQ(2u, Read32(&h[46]));
    EXPECT_EQ(0u, Read32(&h[50]));
    EXPECT_EQ(0x00000000u, Read32(&h[54]));   // entry 0 black
    EXPECT_EQ(0x00FFFFFFu, Read32(&h[58]));   // entry 1 white

    PageBitmapLayout layout;
    ASSERT_EQ(1, PlanPageBitmapLayout(1728, 2200, PixelTypeBlackWhite, layout));
    EXPECT_EQ(216u, layout.stride);
    EXPECT_EQ(1u, layout.bitsPerPixel);
}

TEST(PageBitmapFormat, GrayAndRgbHeaders)
{
    const std::vector<uint8_t> gray = Headers(1001, 3, PixelTypeGray, 300, 400);
    ASSERT_EQ(1078u, gray.size());
    EXPECT_EQ(1078u, Read32(&gray[10]));
    EXPECT_EQ(8, Read16(&gray[28]));
    EXPECT_EQ(1004u * 3, Read32(&gray[34]));
    EXPECT_EQ(1078u + 3012, Read32(&gray[2]));
    EXPECT_EQ(11811u, Read32(&gray[38]));
    EXPECT_EQ(15748u, Read32(&gray[42]));
    EXPECT_EQ(256u, Read32(&gray[46]));
    for (uint32_t i = 0; i < 256; ++i) ASSERT_EQ(i | i << 8 | i << 16, Read32(&gray[54 + 4 * i])) << i;

    const std::vector<uint8_t> rgb = Headers(1001, 3, PixelTypeRgb, 200, 200);
    ASSERT_EQ(54u, rgb.size());
    EXPECT_EQ(54u, Read32(&rgb[10]));
    EXPECT_EQ(24, Read16(&rgb[28]));
    EXPECT_EQ(3004u * 3, Read32(&rgb[34]));
    EXPECT_EQ(0u, Read32(&rgb[46]));
}

TEST(PageBitmapFormat, PixelsPerMetreAndRefusedLayouts)
{
    EXPECT_EQ(7874, PixelsPerMetre(200));
    EXPECT_EQ(11811, PixelsPerMetre(300));
    EXPECT_EQ(15748, PixelsPerMetre(400));
    EXPECT_EQ(3858, PixelsPerMetre(98));
    PageBitmapLayout layout;
    EXPECT_EQ(0, PlanPageBitmapLayout(10, 10, 3, layout));
    EXPECT_EQ(0, PlanPageBitmapLayout(0, 10, PixelTypeGray, layout));
    EXPECT_EQ(0, PlanPageBitmapLayout(10, 0, PixelTypeGray, layout));
    // Sizes that the file's 32-bit fields cannot hold.
    EXPECT_EQ(0, PlanPageBitmapLayout(70000, 70000, PixelTypeRgb, layout));
    EXPECT_EQ(0, PlanPageBitmapLayout(0x80000000u, 1, PixelTypeBlackWhite, layout));
}

TEST(PageBitmapFormat, FlipSwapsRowsAroundTheMiddle)
{
    // Five rows: the middle one stays, the others change places.
    std::vector<uint8_t> rows = {1, 1, 2, 2, 3, 3, 4, 4, 5, 5};
    FlipPageRows(rows.data(), 2, 5);
    EXPECT_EQ((std::vector<uint8_t>{5, 5, 4, 4, 3, 3, 2, 2, 1, 1}), rows);
    std::vector<uint8_t> even = {1, 2, 3, 4, 5, 6, 7, 8};
    FlipPageRows(even.data(), 4, 2);
    EXPECT_EQ((std::vector<uint8_t>{5, 6, 7, 8, 1, 2, 3, 4}), even);
    std::vector<uint8_t> one = {9, 8, 7, 6};
    FlipPageRows(one.data(), 4, 1);
    EXPECT_EQ((std::vector<uint8_t>{9, 8, 7, 6}), one);
}
