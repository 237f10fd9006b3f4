// The page converter: sizes, resolutions and regions by their integer rules, and every output
// pixel checked against a plain area computation done pixel by pixel.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "imaging/page_bitmap_format.h"
#include "imaging/page_conversion.h"

namespace {

// A decoded page: 1-bit rows padded to 32 bits, white = 1, padding white.
struct Page {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t stride = 0;
    std::vector<uint8_t> rows;

    Page(uint32_t w, uint32_t h) : width(w), height(h), stride((w + 31) / 32 * 4), rows(size_t(stride) * h, 0xFF) {}
    bool White(uint32_t x, uint32_t y) const { return (rows[size_t(y) * stride + x / 8] >> (7 - x % 8)) & 1; }
    void SetBlack(uint32_t x, uint32_t y) { rows[size_t(y) * stride + x / 8] &= uint8_t(~(0x80 >> (x % 8))); }
};

// Text-like content: clusters of black pixels on white, different for every seed.
Page RandomPage(uint32_t w, uint32_t h, uint32_t seed, int blackPercent = 30) {
    Page page(w, h);
    std::mt19937 random(seed);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            if (int(random() % 100) < blackPercent) page.SetBlack(x, y);
    return page;
}

ConversionSettings Settings(int pixelType, double tx = 0, double ty = 0) {
    ConversionSettings s;
    s.pixelType = pixelType;
    if (tx > 0) {
        s.resolutionChange = true;
        s.targetXResolution = tx;
        s.targetYResolution = ty;
    }
    return s;
}

ConversionSettings FixedSize(ConversionSettings s, int32_t paperWidth, int32_t paperHeight) {
    s.fixedSizeOn = true;
    s.paperWidth = paperWidth;
    s.paperHeight = paperHeight;
    return s;
}

struct Converted {
    ConversionPlan plan;
    std::vector<uint8_t> bytes;
};

Converted Convert(const Page& page, int32_t rx, int32_t ry, const ConversionSettings& settings) {
    Converted c;
    EXPECT_EQ(1, PlanPageConversion(page.width, page.height, rx, ry, settings, c.plan));
    c.bytes.assign(c.plan.bytes, 0x5A);
    EXPECT_EQ(1, ConvertPageRows(c.plan, page.rows.data(), page.stride, c.bytes.data()));
    return c;
}

// The white share of output pixel (dx, dy): every source pixel of the region weighs the area it
// shares with the output pixel's rectangle. Coordinates are scaled by the region sizes so that
// every edge is an integer. Returns white area and total area.
std::pair<uint64_t, uint64_t> WhiteArea(const Page& page, const ConversionPlan& plan, uint32_t dx, uint32_t dy) {
    const uint64_t sw = plan.sourceWidth, sh = plan.sourceHeight;
    const uint64_t rw = plan.regionWidth, rh = plan.regionHeight;
    const uint64_t left = dx * sw, right = (dx + 1) * sw;      // in 1/rw of a source pixel
    const uint64_t top = dy * sh, bottom = (dy + 1) * sh;      // in 1/rh of a source pixel
    uint64_t white = 0;
    for (uint64_t sy = top / rh; sy < sh && sy * rh < bottom; ++sy) {
        const uint64_t oy = std::min(bottom, (sy + 1) * rh) - std::max(top, sy * rh);
        for (uint64_t sx = left / rw; sx < sw && sx * rw < right; ++sx) {
            const uint64_t ox = std::min(right, (sx + 1) * rw) - std::max(left, sx * rw);
            if (page.White(uint32_t(sx), uint32_t(sy))) white += ox * oy;
        }
    }
    return {white, sw * sh};
}

// Checks every byte of the output, padding included, against the area computation.
void ExpectMatchesAreaAverage(const Page& page, const Converted& c) {
    const ConversionPlan& plan = c.plan;
    for (uint32_t y = 0; y < plan.height; ++y) {
        const uint8_t* row = c.bytes.data() + size_t(y) * plan.stride;
        std::vector<uint8_t> expected(plan.stride, 0xFF);
        for (uint32_t x = 0; y < plan.regionHeight && x < plan.regionWidth; ++x) {
            const auto [white, total] = WhiteArea(page, plan, x, y);
            const auto gray = uint8_t((510 * white + total) / (2 * total));
            switch (plan.pixelType) {
            case PixelTypeBlackWhite:
                if (2 * white < total) expected[x / 8] &= uint8_t(~(0x80 >> (x % 8)));
                break;
            case PixelTypeGray:
                expected[x] = gray;
                break;
            default:
                expected[3 * x] = expected[3 * x + 1] = expected[3 * x + 2] = gray;
            }
        }
        ASSERT_EQ(expected, std::vector<uint8_t>(row, row + plan.stride)) << "row " << y;
    }
}

}  // namespace

TEST(ConversionPlan, ResolutionChangeScalesSizeAndTakesTheTargets)
{
    ConversionPlan plan;
    ASSERT_EQ(1, PlanPageConversion(1728, 2200, 200, 200, Settings(PixelTypeBlackWhite, 400, 400), plan));
    EXPECT_FALSE(plan.unchanged);
    EXPECT_EQ(3456u, plan.width);
    EXPECT_EQ(4400u, plan.height);
    EXPECT_EQ(400, plan.xResolution);
    EXPECT_EQ(400, plan.yResolution);
    EXPECT_EQ(432u, plan.stride);
    EXPECT_EQ(432ull * 4400, plan.bytes);
    EXPECT_EQ(1728u, plan.sourceWidth);
    EXPECT_EQ(3456u, plan.regionWidth);

    // A standard-resolution fax page: only the height changes.
    ASSERT_EQ(1, PlanPageConversion(1728, 1100, 200, 100, Settings(PixelTypeBlackWhite, 200, 200), plan));
    EXPECT_EQ(1728u, plan.width);
    EXPECT_EQ(2200u, plan.height);
    EXPECT_EQ(200, plan.yResolution);

    // Targets are truncated; sizes are trunc(W x target / R), not rounded.
    ASSERT_EQ(1, PlanPageConversion(1728, 2291, 204, 196, Settings(PixelTypeGray, 200.9, 200.2), plan));
    EXPECT_EQ(200, plan.xResolution);
    EXPECT_EQ(200, plan.yResolution);
    EXPECT_EQ(uint32_t(1728 * 200.9 / 204), plan.width);    // 1701.7
    EXPECT_EQ(uint32_t(2291 * 200.2 / 196), plan.height);   // 2340.1
    // Exact quotients stay exact: 300 rows at 300 dpi to 200 dpi is 200 rows, not 199.
    ASSERT_EQ(1, PlanPageConversion(300, 300, 300, 300, Settings(PixelTypeGray, 200, 200), plan));
    EXPECT_EQ(200u, plan.width);
    EXPECT_EQ(200u, plan.height);
}

TEST(ConversionPlan, OutputStridesByPixelType)
{
    ConversionPlan plan;
    ASSERT_EQ(1, PlanPageConversion(1001, 10, 200, 200, Settings(PixelTypeGray), plan));
    EXPECT_EQ(1004u, plan.stride);
    ASSERT_EQ(1, PlanPageConversion(1001, 10, 200, 200, Settings(PixelTypeRgb), plan));
    EXPECT_EQ(3004u, plan.stride);
    EXPECT_EQ(30040u, plan.bytes);
    ASSERT_EQ(1, PlanPageConversion(1001, 10, 200, 200, Settings(PixelTypeBlackWhite, 200, 200), plan));
    EXPECT_EQ(128u, plan.stride);
}

TEST(ConversionPlan, BlackAndWhiteWithoutChangeOrFixedSizeIsUnchanged)
{
    ConversionPlan plan;
    ASSERT_EQ(1, PlanPageConversion(1728, 2200, 200, 100, Settings(PixelTypeBlackWhite), plan));
    EXPECT_TRUE(plan.unchanged);
    EXPECT_EQ(1728u, plan.width);
    EXPECT_EQ(2200u, plan.height);
    EXPECT_EQ(200, plan.xResolution);
    EXPECT_EQ(100, plan.yResolution);
    EXPECT_EQ(216u, plan.stride);
    // Gray at the same resolution is a conversion, of the same size.
    ASSERT_EQ(1, PlanPageConversion(1728, 2200, 200, 100, Settings(PixelTypeGray), plan));
    EXPECT_FALSE(plan.unchanged);
    EXPECT_EQ(1728u, plan.width);
    EXPECT_EQ(100, plan.yResolution);
}

TEST(ConversionPlan, FixedSizeCutsLargePagesAndPadsSmallOnes)
{
    ConversionPlan plan;
    // A4 at 200 dpi: the page is wider than the paper (cut at the right) and shorter (margin).
    ASSERT_EQ(1, PlanPageConversion(1728, 2200, 200, 200, FixedSize(Settings(PixelTypeBlackWhite), 826, 1168), plan));
    EXPECT_FALSE(plan.unchanged);
    EXPECT_EQ(1652u, plan.width);
    EXPECT_EQ(2336u, plan.height);
    EXPECT_EQ(1652u, plan.sourceWidth);
    EXPECT_EQ(2200u, plan.sourceHeight);
    EXPECT_EQ(1652u, plan.regionWidth);
    EXPECT_EQ(2200u, plan.regionHeight);

    // With a resolution change the output follows the new resolution, the source region the
    // share of the scaled page that fits: 1728 - 114 x 1728 / 2592 = 1652.
    ASSERT_EQ(1, PlanPageConversion(1728, 2200, 200, 200, FixedSize(Settings(PixelTypeGray, 300, 300), 826, 1168), plan));
    EXPECT_EQ(2478u, plan.width);
    EXPECT_EQ(3504u, plan.height);
    EXPECT_EQ(1652u, plan.sourceWidth);
    EXPECT_EQ(2478u, plan.regionWidth);
    EXPECT_EQ(2200u, plan.sourceHeight);
    EXPECT_EQ(3300u, plan.regionHeight);

    // Truncation in the region: 1001 - (1501 - 1332) x 1001 / 1501 = 1001 - 112 (112.7).
    ASSERT_EQ(1, PlanPageConversion(1001, 100, 200, 200, FixedSize(Settings(PixelTypeGray, 300, 300), 444, 10), plan));
    EXPECT_EQ(1332u, plan.width);
    EXPECT_EQ(889u, plan.sourceWidth);
    EXPECT_EQ(1332u, plan.regionWidth);
    EXPECT_EQ(30u, plan.height);
    EXPECT_EQ(100u - 120 * 100 / 150, plan.sourceHeight);
}

TEST(ConversionPlan, RefusesWhatCannotBeConverted)
{
    ConversionPlan plan;
    EXPECT_EQ(0, PlanPageConversion(0, 100, 200, 200, Settings(PixelTypeGray), plan));
    EXPECT_EQ(0, PlanPageConversion(100, 0, 200, 200, Settings(PixelTypeGray), plan));
    EXPECT_EQ(0, PlanPageConversion(0, 100, 200, 200, Settings(PixelTypeBlackWhite), plan));
    EXPECT_EQ(0, PlanPageConversion(100, 100, 200, 200, Settings(3), plan));
    EXPECT_EQ(0, PlanPageConversion(100, 100, 200, 200, Settings(-1, 300, 300), plan));
    // Paper sizes below 1, as an empty paper list gives them.
    EXPECT_EQ(0, PlanPageConversion(100, 100, 200, 200, FixedSize(Settings(PixelTypeBlackWhite), 0, 0), plan));
    EXPECT_EQ(0, PlanPageConversion(100, 100, 200, 200, FixedSize(Settings(PixelTypeBlackWhite), 826, -1), plan));
    // A page without a resolution cannot be scaled, nor given a paper size.
    EXPECT_EQ(0, PlanPageConversion(100, 100, 0, 200, Settings(PixelTypeGray, 300, 300), plan));
    EXPECT_EQ(0, PlanPageConversion(100, 100, 0, 200, FixedSize(Settings(PixelTypeGray), 826, 1168), plan));
    // Targets that are not resolutions, or scale the page to nothing.
    EXPECT_EQ(0, PlanPageConversion(100, 100, 200, 200, Settings(PixelTypeGray, 0.5, 200), plan));
    EXPECT_EQ(0, PlanPageConversion(100, 100, 200, 200, Settings(PixelTypeGray, 200, 40000), plan));
    EXPECT_EQ(0, PlanPageConversion(100, 100, 400, 400, Settings(PixelTypeGray, 1, 1), plan));
    // Absurd outputs fail instead of allocating: 1728 x 2200 at 200 dpi to 32767 dpi in RGB.
    EXPECT_EQ(0, PlanPageConversion(1728, 2200, 200, 200, Settings(PixelTypeRgb, 32767, 32767), plan));
    EXPECT_EQ(0, PlanPageConversion(100, 100, 200, 200, FixedSize(Settings(PixelTypeRgb), 2000000, 2000000), plan));
}

TEST(PageConversion, PartialCoverageByArea)
{
    // Three source pixels black, white, white onto two output pixels: the first covers one and a
    // half source pixels, a third of it white.
    Page page(3, 1);
    page.SetBlack(0, 0);
    ConversionSettings s = Settings(PixelTypeGray, 200, 300);
    Converted c = Convert(page, 300, 300, s);
    ASSERT_EQ(2u, c.plan.width);
    EXPECT_EQ(85, c.bytes[0]);
    EXPECT_EQ(255, c.bytes[1]);
    EXPECT_EQ(0xFF, c.bytes[2]);   // padding

    // Half black: 127.5 rounds up to 128; in black and white a tie is white.
    Page half(2, 1);
    half.SetBlack(1, 0);
    c = Convert(half, 200, 200, Settings(PixelTypeGray, 100, 200));
    ASSERT_EQ(1u, c.plan.width);
    EXPECT_EQ(128, c.bytes[0]);
    c = Convert(half, 200, 200, Settings(PixelTypeBlackWhite, 100, 200));
    EXPECT_EQ(0xFF, c.bytes[0]);
    // Two black of three is black.
    Page twoThirds(3, 1);
    twoThirds.SetBlack(0, 0);
    twoThirds.SetBlack(2, 0);
    c = Convert(twoThirds, 300, 200, Settings(PixelTypeBlackWhite, 100, 200));
    ASSERT_EQ(1u, c.plan.width);
    EXPECT_EQ(0x7F, c.bytes[0]);
}

TEST(PageConversion, EveryPixelIsTheAreaAverage)
{
    struct Case {
        uint32_t w, h;
        int32_t rx, ry;
        double tx, ty;
        int32_t paperW, paperH;   // 0: fixed size off
    } cases[] = {
        {61, 37, 200, 200, 300, 300, 0, 0},        // 2:3 up
        {61, 37, 200, 200, 400, 400, 0, 0},        // 1:2 up
        {61, 37, 200, 100, 200, 200, 0, 0},        // rows doubled only
        {67, 45, 300, 300, 200, 200, 0, 0},        // 3:2 down
        {97, 53, 204, 196, 200, 200, 0, 0},        // fine fax to 200 dpi: odd ratios both ways
        {40, 40, 400, 400, 100, 100, 0, 0},        // 4:1 down
        {13, 7, 100, 100, 700, 300, 0, 0},         // 1:7 and 1:3 up
        {61, 37, 200, 200, 0, 0, 0, 0},            // same size, only the pixel type changes
        {61, 37, 200, 200, 300, 300, 20, 30},      // paper smaller than the page: cut
        {61, 37, 200, 200, 300, 300, 50, 40},      // paper larger: margins
        {61, 37, 200, 200, 0, 0, 20, 30},          // paper at the page's resolution
        {97, 53, 200, 200, 300, 300, 31, 17},      // truncated regions
    };
    uint32_t seed = 1;
    for (const Case& k : cases) {
        for (int pixelType : {PixelTypeBlackWhite, PixelTypeGray, PixelTypeRgb}) {
            SCOPED_TRACE(testing::Message() << k.w << "x" << k.h << " " << k.rx << "/" << k.ry << " -> " << k.tx
                                            << "/" << k.ty << " paper " << k.paperW << "x" << k.paperH
                                            << " type " << pixelType);
            ++seed;
            const Page page = RandomPage(k.w, k.h, seed, 20 + int(seed % 50));
            ConversionSettings s = Settings(pixelType, k.tx, k.ty);
            if (k.paperW) s = FixedSize(s, k.paperW, k.paperH);
            ConversionPlan plan;
            ASSERT_EQ(1, PlanPageConversion(page.width, page.height, k.rx, k.ry, s, plan));
            if (plan.unchanged) {
                // Black and white at the page's own size and resolution is the decoded page.
                EXPECT_TRUE(pixelType == PixelTypeBlackWhite && k.tx == 0 && k.paperW == 0);
                continue;
            }
            ExpectMatchesAreaAverage(page, Convert(page, k.rx, k.ry, s));
        }
    }
}

TEST(PageConversion, LargerPagesMatchTheAreaAverageToo)
{
    // Wide rows (several 32-bit words, a partial last one) with sparse and dense content.
    const Page sparse = RandomPage(1001, 120, 77, 3);
    ExpectMatchesAreaAverage(sparse, Convert(sparse, 200, 200, Settings(PixelTypeGray, 300, 300)));
    const Page dense = RandomPage(1001, 90, 78, 60);
    ExpectMatchesAreaAverage(dense, Convert(dense, 204, 196, Settings(PixelTypeBlackWhite, 200, 200)));
    ExpectMatchesAreaAverage(dense, Convert(dense, 200, 200, FixedSize(Settings(PixelTypeRgb, 300, 300), 400, 30)));
}

// Text-like content, where the converter fills the output columns inside a long run at one level:
// strokes and blocks of every length, runs that begin and end on, before and after the 64-pixel
// words the rows are read in and at the page's right edge, and rows that differ from the row below
// by a shifted or missing run (an output row covering both sees stretches of three black weights).
Page TextLikePage(uint32_t w, uint32_t h) {
    Page page(w, h);
    std::mt19937 random(w * 31 + h);
    auto fill = [&page](uint32_t y, uint32_t from, uint32_t to) {
        for (uint32_t x = from; x < std::min(to, page.width); ++x) page.SetBlack(x, y);
    };
    for (uint32_t y = 0; y < h; ++y) {
        switch (y % 8) {
        case 0:  // edges around every word boundary and the right edge
            for (uint32_t b = 64; b < w + 64; b += 64) fill(y, b - 3 - y % 5, std::min(b, w) + y % 4);
            fill(y, w - 1 - y % 3, w);
            break;
        case 1:  // the row above, its runs moved
            for (uint32_t b = 64; b < w + 64; b += 64) fill(y, b - 1 - y % 7, b + 5);
            break;
        case 2:
        case 3:  // strokes and gaps of every length up to a few hundred pixels
            for (uint32_t x = random() % 9; x < w;) {
                const uint32_t run = 1 + random() % (random() % 4 == 0 ? 300 : 12);
                fill(y, x, x + run);
                x += run + 1 + random() % 20;
            }
            break;
        case 4:
            fill(y, 0, w);  // a solid row
            break;
        case 5:  // a block under part of the solid row
            fill(y, w / 5, w - w / 7);
            break;
        default:
            break;  // blank
        }
    }
    return page;
}

TEST(PageConversion, TextLikePagesMatchTheAreaAverage)
{
    const Page page = TextLikePage(1000, 48);
    struct Case {
        int32_t rx, ry;
        double tx, ty;
        int32_t paperW, paperH;
    } cases[] = {
        {200, 200, 300, 300, 0, 0},    // 2:3 up, the 300 dpi transfer
        {200, 200, 400, 400, 0, 0},    // 1:2 up: rows copied
        {200, 200, 100, 100, 0, 0},    // 2:1 down
        {204, 196, 200, 200, 0, 0},    // odd ratios
        {100, 100, 700, 300, 0, 0},    // 1:7 and 1:3 up: long fills
        {400, 400, 100, 100, 0, 0},    // 4:1 down: four rows to an output row
        {200, 200, 300, 300, 300, 20}, // cut on the right and at the bottom
        {200, 200, 0, 0, 600, 30},     // margins
    };
    for (const Case& k : cases) {
        for (int pixelType : {PixelTypeBlackWhite, PixelTypeGray, PixelTypeRgb}) {
            SCOPED_TRACE(testing::Message() << k.rx << "/" << k.ry << " -> " << k.tx << "/" << k.ty << " paper "
                                            << k.paperW << "x" << k.paperH << " type " << pixelType);
            ConversionSettings s = Settings(pixelType, k.tx, k.ty);
            if (k.paperW) s = FixedSize(s, k.paperW, k.paperH);
            ExpectMatchesAreaAverage(page, Convert(page, k.rx, k.ry, s));
        }
    }
}

TEST(PageConversion, SameSizeBlackAndWhiteKeepsTheBitsOfTheRegion)
{
    // A4 at 200 dpi from a wider, shorter page: 1652 columns (not a whole byte) are kept.
    const Page page = RandomPage(1728, 50, 5);
    const Converted c = Convert(page, 200, 200, FixedSize(Settings(PixelTypeBlackWhite), 826, 30));
    ASSERT_EQ(1652u, c.plan.width);
    ASSERT_EQ(60u, c.plan.height);
    ASSERT_EQ(208u, c.plan.stride);
    for (uint32_t y = 0; y < c.plan.height; ++y) {
        for (uint32_t x = 0; x < c.plan.stride * 8; ++x) {
            const bool white = (c.bytes[size_t(y) * c.plan.stride + x / 8] >> (7 - x % 8)) & 1;
            const bool expected = y >= 50 || x >= 1652 || page.White(x, y);
            ASSERT_EQ(expected, white) << x << "," << y;
        }
    }
}

TEST(PageConversion, UnchangedPageIsCopiedAndConversionIsDeterministic)
{
    const Page page = RandomPage(100, 20, 9);
    Converted c = Convert(page, 200, 200, Settings(PixelTypeBlackWhite));
    EXPECT_TRUE(c.plan.unchanged);
    EXPECT_EQ(page.rows, c.bytes);

    const ConversionSettings s = Settings(PixelTypeGray, 300, 300);
    const Converted first = Convert(page, 200, 200, s);
    const Converted second = Convert(page, 200, 200, s);
    EXPECT_EQ(first.bytes, second.bytes);
}

TEST(PageConversion, RefusesASourceStrideTooSmallForTheRows)
{
    const Page page = RandomPage(100, 20, 9);
    ConversionPlan plan;
    ASSERT_EQ(1, PlanPageConversion(100, 20, 200, 200, Settings(PixelTypeGray), plan));
    std::vector<uint8_t> out(plan.bytes);
    EXPECT_EQ(0, ConvertPageRows(plan, page.rows.data(), 13, out.data()));
}

TEST(PageConversion, BandByBandIsTheWholePage)
{
    const Page page = RandomPage(301, 97, 11, 25);
    const struct {
        ConversionSettings settings;
    } cases[] = {{Settings(PixelTypeGray, 300, 300)}, {FixedSize(Settings(PixelTypeBlackWhite), 100, 60)},
                 {Settings(PixelTypeBlackWhite)}, {FixedSize(Settings(PixelTypeRgb, 200, 400), 120, 20)}};
    for (const auto& c : cases) {
        const Converted whole = Convert(page, 200, 200, c.settings);
        PageScaler scaler;
        ASSERT_EQ(1, StartPageConversion(whole.plan, page.rows.data(), page.stride, scaler));
        std::vector<uint8_t> banded;
        std::vector<uint8_t> band(size_t(7) * whole.plan.stride, 0x5A);
        uint32_t rows = 0;
        while ((rows = ConvertPageBand(scaler, 7, band.data())) != 0)
            banded.insert(banded.end(), band.begin(), band.begin() + long(rows) * whole.plan.stride);
        EXPECT_EQ(whole.bytes, banded);
    }
}
