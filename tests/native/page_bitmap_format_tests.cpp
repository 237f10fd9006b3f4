// Page bitmap layouts the format refuses, pixels per metre, and the row flip. The headers byte by
// byte are checked on the files the Windows page store writes (page_file_store_tests).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "imaging/page_bitmap_format.h"

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
