// The TIFF writer and its T.6 encoder, with libtiff as the reader that decides; the bilevel pages
// also go back through our own TIFF reader and fax decoder.
#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "imaging/fax_encoder.h"
#include "imaging/tiff_writer.h"
#include "tests/native/page_test_support.h"

namespace {

// Bytes written, and a write that fails once failAfter bytes have gone.
struct Output {
    std::vector<uint8_t> bytes;
    uint64_t failAfter = UINT64_MAX;
};

uint32_t Collect(void* file, const void* bytes, uint32_t count)
{
    auto* out = static_cast<Output*>(file);
    if (out->bytes.size() + count > out->failAfter)
        return 0;
    const auto* from = static_cast<const uint8_t*>(bytes);
    out->bytes.insert(out->bytes.end(), from, from + count);
    return count;
}

// A page as the page bitmap holds it: rows at a DWORD stride, the bytes past the row filled with
// junk the writer must not look at.
struct Page {
    TiffPageRows rows;
    std::vector<uint8_t> bytes;
    uint32_t rowBytes = 0;
    uint8_t* Row(uint32_t y) { return bytes.data() + size_t(y) * rows.stride; }
    bool White(uint32_t x, uint32_t y) { return (Row(y)[x / 8] >> (7 - x % 8) & 1) == (rows.white & 1); }
};

Page MakePage(uint32_t width, uint32_t height, uint16_t bits, uint32_t xDpi = 200, uint32_t yDpi = 200)
{
    Page page;
    page.rowBytes = bits == 1 ? (width + 7) / 8 : width * (bits / 8);
    page.rows.stride = (width * bits + 31) / 32 * 4;
    page.rows.width = width;
    page.rows.height = height;
    page.rows.bitsPerPixel = bits;
    page.rows.xDpi = xDpi;
    page.rows.yDpi = yDpi;
    page.bytes.assign(size_t(page.rows.stride) * height, 0xA5);
    page.rows.rows = page.bytes.data();
    return page;
}

// Bilevel rows like a page's: white margins, text-like black runs whose edges move a little
// from row to row, blank and solid rows, runs past 2560 pixels and single-pixel alternation.
void DrawBilevel(Page& page, uint32_t seed)
{
    std::mt19937 random(seed);
    const uint32_t width = page.rows.width;
    std::vector<bool> black(width, false);
    for (uint32_t y = 0; y < page.rows.height; ++y) {
        const uint32_t kind = y % 23;
        if (kind == 0) {
            black.assign(width, false);
        } else if (kind == 1) {
            black.assign(width, true);
        } else if (kind == 2) {
            for (uint32_t x = 0; x < width; ++x)
                black[x] = x % 2 == 1;
        } else if (kind < 8) {
            for (int edits = 0; edits < 4; ++edits) {
                const uint32_t at = random() % width;
                const uint32_t length = 1 + random() % (kind == 3 ? 3000 : 40);
                for (uint32_t x = at; x < width && x < at + length; ++x)
                    black[x] = kind != 4;
            }
        } else {
            // Edges shift by up to four pixels: every vertical offset, and passes.
            std::vector<bool> next(width);
            const int shift = int(random() % 9) - 4;
            for (uint32_t x = 0; x < width; ++x) {
                const int from = int(x) - shift;
                next[x] = from >= 0 && from < int(width) ? bool(black[size_t(from)]) : false;
            }
            black = next;
        }
        uint8_t* row = page.Row(y);
        std::memset(row, page.rows.white, page.rowBytes);
        for (uint32_t x = 0; x < width; ++x)
            if (black[x])
                row[x / 8] ^= uint8_t(0x80 >> (x % 8));
        // Bits past the width are the page's business, not the file's.
        if (width % 8)
            row[width / 8] ^= uint8_t(0xFF >> (width % 8)) & uint8_t(random());
    }
}

// The file as libtiff reads it.
struct LibtiffPage {
    bool opened = false;
    uint32_t width = 0, height = 0, rowsPerStrip = 0, strips = 0;
    uint16_t bits = 0, samples = 0, compression = 0, photometric = 0, unit = 0, orientation = 0;
    float xResolution = 0, yResolution = 0;
    std::vector<std::vector<uint8_t>> rows;
    bool readErrors = false;
};

LibtiffPage ReadWithLibtiff(const std::vector<uint8_t>& bytes)
{
    static int counter = 0;
    const std::string path = ::testing::TempDir() + "tiff_writer_" + std::to_string(getpid()) + "_" +
                             std::to_string(counter++) + ".tif";
    FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    LibtiffPage page;
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (tiff) {
        page.opened = true;
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &page.width);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &page.height);
        TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &page.bits);
        TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &page.samples);
        TIFFGetField(tiff, TIFFTAG_COMPRESSION, &page.compression);
        TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &page.photometric);
        TIFFGetField(tiff, TIFFTAG_RESOLUTIONUNIT, &page.unit);
        TIFFGetField(tiff, TIFFTAG_ORIENTATION, &page.orientation);
        TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &page.xResolution);
        TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &page.yResolution);
        TIFFGetField(tiff, TIFFTAG_ROWSPERSTRIP, &page.rowsPerStrip);
        page.strips = TIFFNumberOfStrips(tiff);
        std::vector<uint8_t> row(size_t(TIFFScanlineSize(tiff)));
        for (uint32_t y = 0; y < page.height; ++y) {
            page.readErrors |= TIFFReadScanline(tiff, row.data(), y, 0) != 1;
            page.rows.push_back(row);
        }
        page.readErrors |= TIFFReadDirectory(tiff) != 0;  // one page only
        TIFFClose(tiff);
    }
    std::remove(path.c_str());
    return page;
}

std::vector<uint8_t> Write(const Page& page)
{
    Output out;
    EXPECT_EQ(1, WriteTiffPage(page.rows, Collect, &out));
    return out.bytes;
}

}  // namespace

// Bilevel pages of many widths, in the page bitmap's convention (1-bits white): libtiff reads the
// T.6 file as the same picture (min-is-white, 1 = black) with the page's resolution, and our own
// reader and decoder give back the page's rows.
TEST(TiffWriter, BilevelPagesAreT6CodedAndReadBackByLibtiffAndOurReader)
{
    TIFFSetWarningHandler(nullptr);
    for (uint32_t width : {1u, 7u, 9u, 31u, 33u, 64u, 65u, 1728u, 2623u, 5301u}) {
        SCOPED_TRACE("width " + std::to_string(width));
        Page page = MakePage(width, 71, 1, 204, 98);
        DrawBilevel(page, width);
        const std::vector<uint8_t> file = Write(page);
        LibtiffPage read = ReadWithLibtiff(file);
        ASSERT_TRUE(read.opened);
        EXPECT_FALSE(read.readErrors);
        EXPECT_EQ(width, read.width);
        EXPECT_EQ(71u, read.height);
        EXPECT_EQ(1, read.bits);
        EXPECT_EQ(COMPRESSION_CCITTFAX4, read.compression);
        EXPECT_EQ(PHOTOMETRIC_MINISWHITE, read.photometric);
        EXPECT_EQ(RESUNIT_INCH, read.unit);
        EXPECT_EQ(204.0f, read.xResolution);
        EXPECT_EQ(98.0f, read.yResolution);
        EXPECT_EQ(1u, read.strips);
        int wrong = 0;
        for (uint32_t y = 0; y < read.height; ++y)
            for (uint32_t x = 0; x < width; ++x)
                wrong += bool(read.rows[y][x / 8] >> (7 - x % 8) & 1) == page.White(x, y);
        EXPECT_EQ(0, wrong);

        DecodedPage ours = DecodePage(file, 0, 0xFF);
        ASSERT_TRUE(ours.opened);
        ASSERT_EQ(71u, ours.RowsDelivered());
        wrong = 0;
        for (uint32_t y = 0; y < 71; ++y)
            for (uint32_t x = 0; x < width; ++x)
                wrong += bool(ours.Row(y)[x / 8] >> (7 - x % 8) & 1) != page.White(x, y);
        EXPECT_EQ(0, wrong);
    }
}

// Every run length of both colours up to past two make-up codes of 2560, mostly in horizontal
// mode (each row's edges lie more than 3 pixels from the row above's), and the same code
// whichever bit value is white.
TEST(TiffWriter, EveryRunLengthOfBothColours)
{
    const uint32_t width = 5400;
    std::vector<uint32_t> lengths;
    for (uint32_t n = 0; n <= 2700; ++n)
        lengths.push_back(n);
    for (uint32_t n : {5119u, 5120u, 5183u, 5184u, 5247u, 5330u})
        lengths.push_back(n);
    // Two rows per length: a black run of it on white, a white run of it on black.
    Page page = MakePage(width, 2 * uint32_t(lengths.size()), 1);
    for (uint32_t y = 0; y < page.rows.height; ++y) {
        const uint32_t length = lengths[y / 2];
        const uint32_t lead = (y / 2 % 2 ? 40 : 0) + (length > 5000 ? 0 : y / 2 % 7 * 5);
        const uint8_t around = y % 2 ? 0x00 : 0xFF;
        std::memset(page.Row(y), around, page.rows.stride);
        for (uint32_t x = lead; x < lead + length && x < width; ++x)
            page.Row(y)[x / 8] ^= uint8_t(0x80 >> (x % 8));
    }
    Output coded;
    ASSERT_GT(EncodeT6(page.rows.rows, page.rows.stride, width, page.rows.height, 0xFF, Collect, &coded), 0u);
    Page inverted = page;
    for (uint8_t& byte : inverted.bytes)
        byte = uint8_t(~byte);
    Output same;
    EncodeT6(inverted.bytes.data(), page.rows.stride, width, page.rows.height, 0x00, Collect, &same);
    EXPECT_TRUE(coded.bytes == same.bytes);

    LibtiffPage read = ReadWithLibtiff(Write(page));
    ASSERT_TRUE(read.opened);
    EXPECT_FALSE(read.readErrors);
    int wrong = 0;
    for (uint32_t y = 0; y < read.height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            wrong += bool(read.rows[y][x / 8] >> (7 - x % 8) & 1) == page.White(x, y);
    EXPECT_EQ(0, wrong);
}

// Gray and colour pages of odd widths in PackBits strips: libtiff reads the same samples (colour
// turned from the page's blue, green, red into red, green, blue), in strips of about 8 KiB, with
// the page's resolution.
TEST(TiffWriter, GrayAndColourPagesInPackBitsStrips)
{
    TIFFSetWarningHandler(nullptr);
    std::mt19937 random(7);
    for (uint16_t bits : {uint16_t(8), uint16_t(24)}) {
        for (uint32_t width : {1u, 3u, 13u, 1001u, 2731u, 3000u}) {
            SCOPED_TRACE(std::to_string(bits) + " bits, width " + std::to_string(width));
            const uint32_t height = 37;
            Page page = MakePage(width, height, bits, 300, 400);
            // Long runs of one value, a ramp and noise: every PackBits case.
            for (uint32_t y = 0; y < height; ++y)
                for (uint32_t i = 0; i < page.rowBytes; ++i)
                    page.Row(y)[i] = y % 3 == 0 ? uint8_t(255 - i / 300) : y % 3 == 1 ? uint8_t(i + y) : uint8_t(random() % 4);
            LibtiffPage read = ReadWithLibtiff(Write(page));
            ASSERT_TRUE(read.opened);
            EXPECT_FALSE(read.readErrors);
            EXPECT_EQ(width, read.width);
            EXPECT_EQ(8, read.bits);
            EXPECT_EQ(bits / 8, read.samples);
            EXPECT_EQ(COMPRESSION_PACKBITS, read.compression);
            EXPECT_EQ(bits == 8 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB, read.photometric);
            EXPECT_EQ(ORIENTATION_TOPLEFT, read.orientation);
            EXPECT_EQ(300.0f, read.xResolution);
            EXPECT_EQ(400.0f, read.yResolution);
            EXPECT_EQ(std::max(1u, std::min(height, 8192 / page.rowBytes)), read.rowsPerStrip);
            EXPECT_EQ((height + read.rowsPerStrip - 1) / read.rowsPerStrip, read.strips);
            int wrong = 0;
            for (uint32_t y = 0; y < height; ++y)
                for (uint32_t i = 0; i < page.rowBytes; ++i) {
                    const uint32_t source = bits == 8 ? i : i - i % 3 + (2 - i % 3);
                    wrong += read.rows[y][i] != page.Row(y)[source];
                }
            EXPECT_EQ(0, wrong);
        }
    }
}

// What the writer cannot describe is refused before anything is written, and a write that falls
// short anywhere in the file (data, directory, strip tables) fails the whole page.
TEST(TiffWriter, RefusalsAndShortWrites)
{
    Page gray = MakePage(5000, 40, 8);
    Output out;
    TiffPageRows bad = gray.rows;
    bad.bitsPerPixel = 4;
    EXPECT_EQ(0, WriteTiffPage(bad, Collect, &out));
    bad = gray.rows;
    bad.yDpi = 0;
    EXPECT_EQ(0, WriteTiffPage(bad, Collect, &out));
    bad = gray.rows;
    bad.stride = 4999;
    EXPECT_EQ(0, WriteTiffPage(bad, Collect, &out));
    bad = gray.rows;
    bad.height = 0;
    EXPECT_EQ(0, WriteTiffPage(bad, Collect, &out));
    EXPECT_TRUE(out.bytes.empty());

    Page bilevel = MakePage(1728, 300, 1);
    DrawBilevel(bilevel, 3);
    for (Page* page : {&gray, &bilevel}) {
        const size_t whole = Write(*page).size();
        for (uint64_t cut : {uint64_t(0), uint64_t(100), uint64_t(whole / 2), uint64_t(whole - 300), uint64_t(whole - 1)}) {
            Output shortWrite;
            shortWrite.failAfter = cut;
            EXPECT_EQ(0, WriteTiffPage(page->rows, Collect, &shortWrite)) << "cut at " << cut << " of " << whole;
        }
    }
}
