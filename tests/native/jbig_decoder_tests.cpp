// JBIG strips decoded into page rows: stride, padding, polarity, and strips that are short,
// damaged, oversized or followed by garbage.
#include <gtest/gtest.h>

#include "imaging/jbig_decoder.h"
#include "tests/native/page_test_support.h"

namespace {

DecodedPage DecodeStrip(const std::vector<uint8_t>& strip, uint32_t pageWidth, uint32_t rows,
                        uint16_t photometric = 0, uint8_t background = 0xFF) {
    static PageDecodeContext context;
    context = PageDecodeContext{};
    MemoryFile file{strip};
    DecodedPage page;
    page.width = pageWidth;
    page.stride = (pageWidth + 31) / 32 * 4;
    page.height = rows;
    context.mode = DecodeModeJbig;
    context.width = pageWidth;
    context.height = rows;
    context.bytesPerRow = page.stride;
    context.photometric = photometric;
    context.background = background;
    context.read = MemoryRead;
    context.seek = MemorySeek;
    context.file = &file;
    context.fileSize = static_cast<uint32_t>(strip.size());
    context.sink = KeepRows;
    context.sinkContext = &page.rows;
    DecodeJbigStrip(context, static_cast<uint32_t>(strip.size()), rows);
    return page;
}

Bitmap Inverted(const Bitmap& image) {
    Bitmap out = image;
    for (uint8_t& b : out.bits) b = static_cast<uint8_t>(~b);
    return out;
}

TEST(JbigDecoder, RowsAsWideAsTheStrideGoOutWhole) {
    const Bitmap image = PatternBitmap(1728, 40);
    const DecodedPage page = DecodeStrip(EncodeJbig(image), 1728, 40);
    ASSERT_EQ(page.stride, 216u);
    ASSERT_EQ(page.rows.size(), 40u * 216);
    EXPECT_EQ(FirstDifferentRow(page, image), 40u);
}

TEST(JbigDecoder, NarrowerRowsArePaddedWithBackground) {
    // 1700 pixels: 213 bytes of plane, a 216-byte stride; the last plane byte holds 4 pixels.
    const Bitmap image = PatternBitmap(1700, 24);
    for (uint8_t background : {uint8_t{0xFF}, uint8_t{0x00}}) {
        const DecodedPage page = DecodeStrip(EncodeJbig(image), 1700, 24, background == 0xFF ? 0 : 1, background);
        ASSERT_EQ(page.rows.size(), 24u * 216);
        for (uint32_t y = 0; y < 24; ++y) {
            const uint8_t* row = page.Row(y);
            EXPECT_EQ(row[212] & 0x0F, background & 0x0F) << y;
            EXPECT_EQ(row[213], background);
            EXPECT_EQ(row[214], background);
            EXPECT_EQ(row[215], background);
        }
        if (background == 0xFF) {
            EXPECT_EQ(FirstDifferentRow(page, image), 24u);
        }
    }
}

TEST(JbigDecoder, PolarityFollowsPhotometricInterpretation) {
    // JBIG planes have black as 1-bits. WhiteIsZero (0) and no tag: flipped to white = 1.
    // BlackIsZero (1): the plane already has white as 1-bits and passes unchanged.
    const Bitmap image = PatternBitmap(64, 16);
    EXPECT_EQ(FirstDifferentRow(DecodeStrip(EncodeJbig(image), 64, 16, 0), image), 16u);
    EXPECT_EQ(FirstDifferentRow(DecodeStrip(EncodeJbig(image), 64, 16, 0xFFFF), image), 16u);
    EXPECT_EQ(FirstDifferentRow(DecodeStrip(EncodeJbig(Inverted(image)), 64, 16, 1), image), 16u);
    // With white as 0-bits on the page, a WhiteIsZero plane is the page's rows as they stand.
    const DecodedPage raw = DecodeStrip(EncodeJbig(image), 64, 16, 0, 0x00);
    ASSERT_EQ(raw.rows.size(), 16u * 8);
    for (uint32_t y = 0; y < 16; ++y) {
        EXPECT_EQ(0, std::memcmp(raw.Row(y), image.Row(y), 8)) << y;
    }
}

TEST(JbigDecoder, TheStripsRowCountBoundsWhatIsDelivered) {
    const Bitmap image = PatternBitmap(64, 30);
    const DecodedPage cut = DecodeStrip(EncodeJbig(image), 64, 10);
    EXPECT_EQ(cut.RowsDelivered(), 10u);
    for (uint32_t y = 0; y < 10; ++y) EXPECT_TRUE(RowShows(cut, y, image, y));
    // Fewer rows in the image than the strip claims: only the image's rows (the reader pads).
    EXPECT_EQ(DecodeStrip(EncodeJbig(image), 64, 50).RowsDelivered(), 30u);
}

TEST(JbigDecoder, APlaneWiderThanThePageIsCutAtThePageWidth) {
    const Bitmap image = PatternBitmap(100, 12);
    const DecodedPage page = DecodeStrip(EncodeJbig(image), 40, 12);
    ASSERT_EQ(page.stride, 8u);
    ASSERT_EQ(page.rows.size(), 12u * 8);
    for (uint32_t y = 0; y < 12; ++y) {
        for (uint32_t x = 0; x < 64; ++x) {
            const bool white = (page.Row(y)[x / 8] >> (7 - x % 8)) & 1;
            EXPECT_EQ(white, x >= 40 || !image.Black(x, y)) << x << "," << y;
        }
    }
}

TEST(JbigDecoder, ProgressiveImagesDecodeToTheFullResolution) {
    const Bitmap image = PatternBitmap(300, 200);
    EXPECT_EQ(FirstDifferentRow(DecodeStrip(EncodeJbig(image, 2), 300, 200), image), 200u);
}

TEST(JbigDecoder, GarbageAfterTheImageIsIgnored) {
    const Bitmap image = PatternBitmap(200, 60);
    std::vector<uint8_t> strip = EncodeJbig(image);
    for (int i = 0; i < 500; ++i) strip.push_back(static_cast<uint8_t>(i * 37 + 11));
    EXPECT_EQ(FirstDifferentRow(DecodeStrip(strip, 200, 60), image), 60u);
}

TEST(JbigDecoder, ATruncatedStripKeepsWhatWasDecodedAndTheRestIsWhite) {
    const Bitmap image = PatternBitmap(256, 200);
    const std::vector<uint8_t> whole = EncodeJbig(image, 0, JbigCoding::FaxProfile);
    std::vector<uint8_t> half(whole.begin(), whole.begin() + static_cast<long>(whole.size() / 2));
    const DecodedPage page = DecodeStrip(half, 256, 200);
    ASSERT_EQ(page.RowsDelivered(), 200u);
    const uint32_t firstWrong = FirstDifferentRow(page, image);
    EXPECT_GT(firstWrong, 20u);
    EXPECT_LT(firstWrong, 200u);
    // The row being decoded when the data ran out may be partly painted; every row after it is
    // white, never left-over memory.
    for (uint32_t y = firstWrong + 1; y < 200; ++y) EXPECT_TRUE(RowIsWhite(page, y)) << y;
}

TEST(JbigDecoder, ATruncatedInterleavedStripDeliversNothing) {
    // With stripes interleaved across layers JBIG-KIT hands out no plane before the image is
    // complete: the strip delivers nothing, and the reader keeps its rows white.
    const std::vector<uint8_t> whole = EncodeJbig(PatternBitmap(256, 200));
    std::vector<uint8_t> half(whole.begin(), whole.begin() + static_cast<long>(whole.size() / 2));
    EXPECT_TRUE(DecodeStrip(half, 256, 200).rows.empty());
}

TEST(JbigDecoder, StripsWithoutAUsableHeaderDeliverNothing) {
    const std::vector<uint8_t> whole = EncodeJbig(PatternBitmap(64, 8));
    EXPECT_TRUE(DecodeStrip(std::vector<uint8_t>(whole.begin(), whole.begin() + 19), 64, 8).rows.empty());
    EXPECT_TRUE(DecodeStrip({}, 64, 8).rows.empty());
    std::vector<uint8_t> badPadding = whole;
    badPadding[3] = 1;   // must be 0
    EXPECT_TRUE(DecodeStrip(badPadding, 64, 8).rows.empty());
    std::vector<uint8_t> noWidth = whole;
    noWidth[4] = noWidth[5] = noWidth[6] = noWidth[7] = 0;
    EXPECT_TRUE(DecodeStrip(noWidth, 64, 8).rows.empty());
}

TEST(JbigDecoder, HeadersClaimingHugePlanesAreNotHandedToTheLibrary) {
    // JBIG-KIT would try to allocate these planes at once and end the process when it cannot.
    const std::vector<uint8_t> whole = EncodeJbig(PatternBitmap(64, 8), 0, JbigCoding::FaxProfile);
    auto withSize = [&](uint32_t width, uint32_t height, uint8_t planes) {
        std::vector<uint8_t> strip = whole;
        strip[2] = planes;
        for (int i = 0; i < 4; ++i) {
            strip[4 + i] = static_cast<uint8_t>(width >> (24 - 8 * i));
            strip[8 + i] = static_cast<uint8_t>(height >> (24 - 8 * i));
        }
        return strip;
    };
    EXPECT_TRUE(DecodeStrip(withSize(0x7FFFFFFF, 0x7FFFFFFF, 1), 64, 8).rows.empty());
    EXPECT_TRUE(DecodeStrip(withSize(0xFFFFFFFF, 0xFFFFFFFE, 255), 64, 8).rows.empty());
    EXPECT_TRUE(DecodeStrip(withSize(1728, 8, 255), 64, 8).rows.size() <= 8u * 8);
    EXPECT_TRUE(DecodeStrip(withSize(200000, 200000, 1), 64, 8).rows.empty());
    // A plane far larger than its page is refused even where memory would allow it: JBIG-KIT
    // would decode every one of its pixels, for seconds, from a few hundred bytes.
    EXPECT_TRUE(DecodeStrip(withSize(0x00800096, 14, 1), 150, 40).rows.empty());
    EXPECT_TRUE(DecodeStrip(withSize(7000, 8000, 1), 1728, 100).rows.empty());
    // A plane of its page's size is decoded, as far as the data goes.
    EXPECT_EQ(DecodeStrip(withSize(1728, 2000, 1), 1728, 2000).RowsDelivered(), 2000u);
    EXPECT_EQ(DecodeStrip(withSize(1800, 2100, 1), 1728, 2000).RowsDelivered(), 2000u);
}

}  // namespace
