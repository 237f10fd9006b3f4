// The fax decoder against libtiff (encoder and reference decoder) and against hand-made bit strings
// for what libtiff never writes.
#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/fax_decoder.h"

namespace {

// ---- Running the decoder over a strip held in memory -------------------------------------------

struct StripFile {
    std::vector<uint8_t> data;
    size_t pos = 0;
    std::vector<uint32_t> requests;
};

uint32_t ReadStrip(void* file, void* buffer, uint32_t count) {
    auto* strip = static_cast<StripFile*>(file);
    strip->requests.push_back(count);
    const size_t n = std::min<size_t>(count, strip->data.size() - strip->pos);
    std::memcpy(buffer, strip->data.data() + strip->pos, n);
    strip->pos += n;
    return static_cast<uint32_t>(n);
}

struct Delivered {
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> calls;
};

void CollectRows(void* context, const uint8_t* bytes, uint32_t count) {
    auto* rows = static_cast<Delivered*>(context);
    rows->bytes.insert(rows->bytes.end(), bytes, bytes + count);
    rows->calls.push_back(count);
}

uint32_t Stride(uint32_t width) { return (width + 31) / 32 * 4; }

struct Options {
    uint16_t fillOrder = 1;
    uint8_t background = 0x00;
    uint32_t bytesPerRow = 0;  // 0: the page stride
    int64_t byteCount = -1;    // -1: the strip's size
};

struct Decoded {
    Delivered rows;
    std::vector<uint32_t> requests;
};

Decoded Decode(const std::vector<uint8_t>& strip, uint32_t width, uint32_t rows, int16_t mode,
               const Options& options = {}) {
    StripFile file;
    file.data = strip;
    Decoded out;
    auto decoder = std::make_unique<FaxDecoder>();
    const uint32_t stride = options.bytesPerRow ? options.bytesPerRow : Stride(width);
    const uint32_t count = options.byteCount < 0 ? static_cast<uint32_t>(strip.size())
                                                 : static_cast<uint32_t>(options.byteCount);
    InitFaxDecoder(*decoder, width, stride, count, options.fillOrder, mode, options.background,
                   ReadStrip, &file, CollectRows, &out.rows);
    DecodeFaxRows(*decoder, rows);
    ReleaseFaxDecoder(*decoder);
    out.requests = file.requests;
    return out;
}

// ---- Images: packed rows, 1 = black, most significant bit first ---------------------------------

struct Bitmap {
    uint32_t width = 0;
    uint32_t rows = 0;
    std::vector<uint8_t> bits;

    Bitmap(uint32_t w, uint32_t h) : width(w), rows(h), bits(size_t(RowBytes()) * h) {}
    uint32_t RowBytes() const { return (width + 7) / 8; }
    uint8_t* Row(uint32_t y) { return bits.data() + size_t(y) * RowBytes(); }
    const uint8_t* Row(uint32_t y) const { return bits.data() + size_t(y) * RowBytes(); }
    bool Get(uint32_t y, uint32_t x) const { return Row(y)[x / 8] >> (7 - x % 8) & 1; }
    void Set(uint32_t y, uint32_t x, bool black) {
        const uint8_t bit = uint8_t(0x80 >> (x % 8));
        if (black) Row(y)[x / 8] |= bit; else Row(y)[x / 8] &= uint8_t(~bit);
    }
    void Fill(uint32_t y, uint32_t from, uint32_t to, bool black) {
        for (uint32_t x = from; x < to; ++x) Set(y, x, black);
    }
};

// The rows the decoder must deliver for an image: black is the complement of background, and
// everything past the width stays background.
std::vector<uint8_t> Expected(const Bitmap& image, uint32_t stride, uint8_t background) {
    std::vector<uint8_t> out(size_t(stride) * image.rows, background);
    for (uint32_t y = 0; y < image.rows; ++y) {
        for (uint32_t x = 0; x < image.width; ++x) {
            if (image.Get(y, x)) out[size_t(y) * stride + x / 8] ^= uint8_t(0x80 >> (x % 8));
        }
    }
    return out;
}

// Names the first row that differs, which tells more than a byte index.
::testing::AssertionResult SameRows(const std::vector<uint8_t>& expected,
                                    const std::vector<uint8_t>& actual, uint32_t stride) {
    if (expected.size() != actual.size()) {
        return ::testing::AssertionFailure()
               << "delivered " << actual.size() << " bytes, expected " << expected.size();
    }
    for (size_t i = 0; i < expected.size(); ++i) {
        if (expected[i] != actual[i]) {
            return ::testing::AssertionFailure()
                   << "first difference in row " << i / stride << " at byte " << i % stride
                   << ": expected 0x" << std::hex << int(expected[i]) << ", got 0x" << int(actual[i]);
        }
    }
    return ::testing::AssertionSuccess();
}

// ---- libtiff as encoder and reference decoder ---------------------------------------------------

enum class Coding { T4OneD, T4OneDAligned, T4TwoD, T4TwoDAligned, T6 };

int16_t ModeOf(Coding coding) {
    switch (coding) {
    case Coding::T4OneD:
    case Coding::T4OneDAligned: return FaxModeT4OneD;
    case Coding::T4TwoD:
    case Coding::T4TwoDAligned: return FaxModeT4TwoD;
    default: return FaxModeT6;
    }
}

const char* NameOf(Coding coding) {
    switch (coding) {
    case Coding::T4OneD: return "T4OneD";
    case Coding::T4OneDAligned: return "T4OneDAligned";
    case Coding::T4TwoD: return "T4TwoD";
    case Coding::T4TwoDAligned: return "T4TwoDAligned";
    default: return "T6";
    }
}

std::string TempPath() {
    static int counter = 0;
    return ::testing::TempDir() + "fax_decoder_" + std::to_string(getpid()) + "_" +
           std::to_string(counter++) + ".tif";
}

// Encodes the image as one strip and returns the raw strip bytes, as stored in the file. Also
// checks that libtiff decodes its own strip back to the image.
std::vector<uint8_t> EncodeStrip(const Bitmap& image, Coding coding, uint16_t fillOrder,
                                 float yResolution = 196.0f) {
    TIFFSetWarningHandler(nullptr);
    const std::string path = TempPath();
    TIFF* out = TIFFOpen(path.c_str(), "w");
    EXPECT_NE(out, nullptr);
    if (out == nullptr) return {};
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, image.width);
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, image.rows);
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, image.rows);
    TIFFSetField(out, TIFFTAG_FILLORDER, fillOrder);
    TIFFSetField(out, TIFFTAG_XRESOLUTION, 204.0f);
    TIFFSetField(out, TIFFTAG_YRESOLUTION, yResolution);
    TIFFSetField(out, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    if (coding == Coding::T6) {
        TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    } else {
        TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
        uint32_t options = 0;
        if (coding == Coding::T4TwoD || coding == Coding::T4TwoDAligned) options |= GROUP3OPT_2DENCODING;
        if (coding == Coding::T4OneDAligned || coding == Coding::T4TwoDAligned) options |= GROUP3OPT_FILLBITS;
        TIFFSetField(out, TIFFTAG_GROUP3OPTIONS, options);
    }
    std::vector<uint8_t> row(image.RowBytes());
    for (uint32_t y = 0; y < image.rows; ++y) {
        std::memcpy(row.data(), image.Row(y), row.size());
        EXPECT_EQ(TIFFWriteScanline(out, row.data(), y, 0), 1);
    }
    TIFFClose(out);

    TIFF* in = TIFFOpen(path.c_str(), "r");
    EXPECT_NE(in, nullptr);
    if (in == nullptr) return {};
    uint64_t* counts = nullptr;
    TIFFGetField(in, TIFFTAG_STRIPBYTECOUNTS, &counts);
    std::vector<uint8_t> strip(counts[0]);
    EXPECT_EQ(TIFFReadRawStrip(in, 0, strip.data(), tmsize_t(strip.size())), tmsize_t(strip.size()));
    std::vector<uint8_t> decoded(image.bits.size());
    EXPECT_EQ(TIFFReadEncodedStrip(in, 0, decoded.data(), tmsize_t(decoded.size())), tmsize_t(decoded.size()));
    TIFFClose(in);
    std::remove(path.c_str());
    // Bits past the width are libtiff's business; the image's are zero.
    if (image.width % 8 != 0) {
        const uint8_t mask = uint8_t(0xFF00 >> (image.width % 8));
        for (uint32_t y = 0; y < image.rows; ++y) decoded[size_t(y + 1) * image.RowBytes() - 1] &= mask;
    }
    EXPECT_TRUE(decoded == image.bits) << "libtiff does not read back its own " << NameOf(coding);
    return strip;
}

// ---- Test images ------------------------------------------------------------------------------

// Rows like a page's: text-like runs, rows that repeat the row above with edges moved a little
// (vertical and pass modes), noise, blank and solid rows.
Bitmap PageLikeImage(uint32_t width, uint32_t rows, uint32_t seed) {
    Bitmap image(width, rows);
    std::mt19937 random(seed);
    auto below = [&](uint32_t n) { return uint32_t(random() % n); };
    for (uint32_t y = 0; y < rows; ++y) {
        const uint32_t kind = below(10);
        if (kind < 4 && y > 0) {
            std::memcpy(image.Row(y), image.Row(y - 1), image.RowBytes());
            for (uint32_t n = below(6); n > 0; --n) {
                const uint32_t x = below(width);
                image.Fill(y, x, std::min(width, x + 1 + below(4)), below(2) == 0);
            }
        } else if (kind < 7) {
            uint32_t x = 0;
            bool black = below(2) == 0;
            while (x < width) {
                const uint32_t limit = below(8) == 0 ? 3000 : (below(3) == 0 ? 200 : 12);
                const uint32_t run = std::min(width - x, 1 + below(limit));
                image.Fill(y, x, x + run, black);
                x += run;
                black = !black;
            }
        } else if (kind == 7) {
            for (uint32_t x = 0; x < width; ++x) image.Set(y, x, below(2) == 0);
        } else if (kind == 8) {
            image.Fill(y, 0, width, true);
        }
    }
    return image;
}

// Runs of every length from 0 to a little past the longest make-up code, both colours: every code
// word of both colours appears.
Bitmap EveryRunLength(uint32_t width) {
    std::vector<uint32_t> runs;
    for (uint32_t n = 1; n <= 2700; n += (n < 200 ? 1 : 7)) runs.push_back(n);
    for (uint32_t n = 64; n <= 2624; n += 64) runs.push_back(n);
    uint64_t total = 0;
    for (uint32_t n : runs) total += 2 * n;
    Bitmap image(width, uint32_t(total / width + 1));
    uint64_t pos = 0;
    for (uint32_t n : runs) {
        for (bool black : {true, false}) {
            if (black) {
                for (uint64_t p = pos; p < pos + n; ++p) image.Set(uint32_t(p / width), uint32_t(p % width), true);
            }
            pos += n;
        }
    }
    return image;
}

// Black stripes whose edges sit on, before and after every 64-pixel boundary and the row's end,
// moving by up to three pixels from row to row (vertical modes left and right), with rows that
// start black or are all black: rows are painted a 64-bit word at a time.
Bitmap EdgesAroundWordBoundaries(uint32_t width) {
    Bitmap image(width, 84);
    auto clamp = [&](int x) { return uint32_t(std::clamp(x, 0, int(width))); };
    for (uint32_t y = 0; y < image.rows; ++y) {
        const int shift = int(y % 7) - 3;
        for (uint32_t boundary = 64; boundary < width + 64; boundary += 64) {
            const int at = int(std::min(boundary, width));
            image.Fill(y, clamp(at - 2 + shift - int(y / 7 % 3)), clamp(at + shift + int(y / 21 % 4)), true);
            // Short runs in a comb whose phase and pitch change from row to row: the row above's
            // change that b1 passes over may be the next b1 after a vertical mode to the left.
            for (uint32_t x = clamp(at - 40); x < clamp(at - 8); ++x) {
                if ((x + y) % (2 + y % 3) == 0) image.Set(y, x, true);
            }
        }
        if (y % 5 == 0) image.Fill(y, 0, 1 + y % 3, true);
        if (y % 13 == 0) image.Fill(y, 0, width, true);
    }
    return image;
}

// ---- Hand-made bit strings ---------------------------------------------------------------------

// Code words written as text, first bit on the left; bytes come out first bit most significant
// (FillOrder 1).
class BitString {
  public:
    BitString& operator()(std::string_view bits) {
        for (char c : bits) {
            if (c == '0' || c == '1') bits_.push_back(c == '1');
        }
        return *this;
    }
    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> bytes((bits_.size() + 7) / 8, 0);
        for (size_t i = 0; i < bits_.size(); ++i) {
            if (bits_[i]) bytes[i / 8] |= uint8_t(0x80 >> (i % 8));
        }
        if (bytes.size() % 2 != 0) bytes.push_back(0);  // whole 16-bit words
        return bytes;
    }

  private:
    std::vector<bool> bits_;
};

// T.4 code words used below.
constexpr std::string_view Eol = "000000000001";
constexpr std::string_view White0 = "00110101";
constexpr std::string_view White4 = "1011";
constexpr std::string_view White8 = "10011";
constexpr std::string_view White16 = "101010";
constexpr std::string_view Black4 = "011";
constexpr std::string_view Black8 = "000101";
constexpr std::string_view Black16 = "0000010111";
constexpr std::string_view Black36 = "000011010100";
constexpr std::string_view BlackMakeUp64 = "0000001111";
constexpr std::string_view MakeUp1984 = "000000010010";
constexpr std::string_view Horizontal = "001";
constexpr std::string_view Vertical0 = "1";
constexpr std::string_view Extension = "0000001";
// Seven zeros, then 01: no white code starts so.
constexpr std::string_view InvalidWhite = "00000000 1 1";

// One byte per 8 pixels, 1 = black, for rows of width 16 (page stride 4).
std::vector<uint8_t> Rows16(std::initializer_list<uint16_t> rows) {
    std::vector<uint8_t> out;
    for (uint16_t r : rows) {
        out.insert(out.end(), {uint8_t(r >> 8), uint8_t(r), 0, 0});
    }
    return out;
}

// ---- Against libtiff --------------------------------------------------------------------------

struct OracleCase {
    Coding coding;
    uint16_t fillOrder;
};

class FaxAgainstLibtiff : public ::testing::TestWithParam<OracleCase> {};

TEST_P(FaxAgainstLibtiff, PageLikeRowsOfManyWidths) {
    const OracleCase c = GetParam();
    for (uint32_t width : {1u, 7u, 31u, 33u, 1727u, 1728u, 2592u, 7296u}) {
        SCOPED_TRACE("width " + std::to_string(width));
        const Bitmap image = PageLikeImage(width, 60, width * 7 + uint32_t(c.coding));
        const std::vector<uint8_t> strip = EncodeStrip(image, c.coding, c.fillOrder);
        for (uint8_t background : {uint8_t(0x00), uint8_t(0xFF)}) {
            const Decoded out = Decode(strip, width, image.rows, ModeOf(c.coding),
                                       {.fillOrder = c.fillOrder, .background = background});
            EXPECT_TRUE(SameRows(Expected(image, Stride(width), background), out.rows.bytes, Stride(width)))
                << "background " << int(background);
        }
    }
}

TEST_P(FaxAgainstLibtiff, TightStridesKeepEveryRowToItself) {
    // Rows are painted 64 pixels at a time. With a stride of the row's bytes or one more, a row's
    // last word reaches into the rows below it (and past the strip's last row): whatever is painted
    // there must leave those rows as they come out.
    const OracleCase c = GetParam();
    for (uint32_t width : {9u, 60u, 63u, 65u, 100u, 1727u}) {
        const Bitmap image = PageLikeImage(width, 40, width * 3 + uint32_t(c.coding));
        const std::vector<uint8_t> strip = EncodeStrip(image, c.coding, c.fillOrder);
        for (uint32_t stride : {(width + 7) / 8, (width + 7) / 8 + 1}) {
            for (uint8_t background : {uint8_t(0x00), uint8_t(0xFF)}) {
                SCOPED_TRACE(testing::Message() << "width " << width << " stride " << stride << " background "
                                                << int(background));
                const Decoded out = Decode(strip, width, image.rows, ModeOf(c.coding),
                                           {.fillOrder = c.fillOrder, .background = background, .bytesPerRow = stride});
                EXPECT_TRUE(SameRows(Expected(image, stride, background), out.rows.bytes, stride));
            }
        }
    }
}

TEST_P(FaxAgainstLibtiff, EveryRunLengthOfBothColours) {
    const OracleCase c = GetParam();
    for (uint32_t width : {2592u, 7296u}) {
        SCOPED_TRACE("width " + std::to_string(width));
        const Bitmap image = EveryRunLength(width);
        // Low vertical resolution: libtiff codes every other row one-dimensionally.
        const std::vector<uint8_t> strip = EncodeStrip(image, c.coding, c.fillOrder, 98.0f);
        const Decoded out = Decode(strip, width, image.rows, ModeOf(c.coding), {.fillOrder = c.fillOrder});
        EXPECT_TRUE(SameRows(Expected(image, Stride(width), 0), out.rows.bytes, Stride(width)));
    }
}

TEST_P(FaxAgainstLibtiff, EdgesAroundWordBoundariesAndTheRowEnd) {
    const OracleCase c = GetParam();
    for (uint32_t width : {62u, 64u, 65u, 127u, 128u, 129u, 200u, 1728u}) {
        SCOPED_TRACE("width " + std::to_string(width));
        const Bitmap image = EdgesAroundWordBoundaries(width);
        const std::vector<uint8_t> strip = EncodeStrip(image, c.coding, c.fillOrder);
        // The tightest stride too: its last word is shorter than eight bytes.
        for (uint32_t stride : {Stride(width), (width + 7) / 8}) {
            for (uint8_t background : {uint8_t(0x00), uint8_t(0xFF), uint8_t(0x5A)}) {
                const Decoded out = Decode(strip, width, image.rows, ModeOf(c.coding),
                                           {.fillOrder = c.fillOrder, .background = background, .bytesPerRow = stride});
                EXPECT_TRUE(SameRows(Expected(image, stride, background), out.rows.bytes, stride))
                    << "stride " << stride << " background " << int(background);
            }
        }
    }
}

TEST_P(FaxAgainstLibtiff, MoreRowsThanTheStripHoldsComeOutWhite) {
    const OracleCase c = GetParam();
    const Bitmap image = PageLikeImage(1728, 20, 99);
    const std::vector<uint8_t> strip = EncodeStrip(image, c.coding, c.fillOrder);
    const Decoded out = Decode(strip, 1728, 50, ModeOf(c.coding), {.fillOrder = c.fillOrder});
    Bitmap longer(1728, 50);
    std::memcpy(longer.bits.data(), image.bits.data(), image.bits.size());
    EXPECT_TRUE(SameRows(Expected(longer, 216, 0), out.rows.bytes, 216));
}

TEST_P(FaxAgainstLibtiff, CutStripKeepsTheRowsBeforeTheCut) {
    const OracleCase c = GetParam();
    const Bitmap image = PageLikeImage(1728, 40, 5);
    const std::vector<uint8_t> strip = EncodeStrip(image, c.coding, c.fillOrder);
    // The strip cut in half: the rows before the cut come out as from the whole strip, every row
    // is still delivered, and past the row the cut falls in all rows are white.
    const Decoded whole = Decode(strip, 1728, 40, ModeOf(c.coding), {.fillOrder = c.fillOrder});
    std::vector<uint8_t> cut(strip.begin(), strip.begin() + strip.size() / 2);
    const Decoded part = Decode(cut, 1728, 40, ModeOf(c.coding), {.fillOrder = c.fillOrder});
    ASSERT_EQ(part.rows.bytes.size(), whole.rows.bytes.size());
    const std::vector<uint8_t> white(216, 0);
    uint32_t same = 0;
    while (same < 40 && std::equal(part.rows.bytes.begin() + same * 216, part.rows.bytes.begin() + (same + 1) * 216,
                                   whole.rows.bytes.begin() + same * 216)) {
        ++same;
    }
    EXPECT_GT(same, 5u);
    EXPECT_LT(same, 40u);
    for (uint32_t y = same + 1; y < 40; ++y) {
        EXPECT_TRUE(std::equal(white.begin(), white.end(), part.rows.bytes.begin() + y * 216)) << "row " << y;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Codings, FaxAgainstLibtiff,
    ::testing::Values(OracleCase{Coding::T4OneD, 1}, OracleCase{Coding::T4OneD, 2},
                      OracleCase{Coding::T4OneDAligned, 1}, OracleCase{Coding::T4TwoD, 1},
                      OracleCase{Coding::T4TwoD, 2}, OracleCase{Coding::T4TwoDAligned, 1},
                      OracleCase{Coding::T4TwoDAligned, 2}, OracleCase{Coding::T6, 1},
                      OracleCase{Coding::T6, 2}),
    [](const ::testing::TestParamInfo<OracleCase>& info) {
        return std::string(NameOf(info.param.coding)) + "_FillOrder" + std::to_string(info.param.fillOrder);
    });

TEST(FaxDecoder, FillOrderTwoReadsEveryByteReversed) {
    const Bitmap image = PageLikeImage(1728, 30, 3);
    std::vector<uint8_t> strip = EncodeStrip(image, Coding::T6, 1);
    const Decoded forward = Decode(strip, 1728, 30, FaxModeT6);
    for (uint8_t& b : strip) {
        uint8_t r = 0;
        for (int i = 0; i < 8; ++i) r |= uint8_t(((b >> i) & 1) << (7 - i));
        b = r;
    }
    const Decoded reversed = Decode(strip, 1728, 30, FaxModeT6, {.fillOrder = 2});
    EXPECT_EQ(forward.rows.bytes, reversed.rows.bytes);
    EXPECT_TRUE(SameRows(Expected(image, 216, 0), reversed.rows.bytes, 216));
}

// ---- Chunks -----------------------------------------------------------------------------------

TEST(FaxDecoder, RowsGoOutInChunksOfAtMostOneMebibyte) {
    // Width 1728 at 216 bytes per row: 4854 rows per chunk.
    const Decoded out = Decode({}, 1728, 10000, FaxModeT6);
    EXPECT_EQ(out.rows.calls, (std::vector<uint32_t>{4854 * 216, 4854 * 216, 292 * 216}));
    EXPECT_TRUE(std::all_of(out.rows.bytes.begin(), out.rows.bytes.end(), [](uint8_t b) { return b == 0; }));
}

TEST(FaxDecoder, TwoDimensionalDecodingContinuesAcrossChunks) {
    // Rows that repeat the row above with small changes code mostly as vertical and pass modes
    // against the row above, so the first row of the second chunk needs the first chunk's last row.
    Bitmap image = PageLikeImage(1728, 5000, 11);
    std::memcpy(image.Row(4854), image.Row(4853), image.RowBytes());
    image.Fill(4854, 700, 703, true);
    for (Coding coding : {Coding::T6, Coding::T4TwoD}) {
        SCOPED_TRACE(NameOf(coding));
        const std::vector<uint8_t> strip = EncodeStrip(image, coding, 1, 400.0f);
        const Decoded out = Decode(strip, 1728, 5000, ModeOf(coding));
        ASSERT_EQ(out.rows.calls.size(), 2u);
        EXPECT_TRUE(SameRows(Expected(image, 216, 0), out.rows.bytes, 216));
    }
}

TEST(FaxDecoder, ConcealedFirstRowOfAChunkIsWhiteInModeZeroAndTheRowAboveInModeThree) {
    // Width 8 at 216 bytes per row keeps 4854 rows per chunk; every row is black but row 4854,
    // the second chunk's first, which is corrupt.
    const uint32_t rows = 4856;
    BitString oneD;
    BitString twoD;
    for (uint32_t y = 0; y < rows; ++y) {
        oneD(Eol);
        twoD(Eol)("1");
        if (y == 4854) {
            oneD(InvalidWhite);
            twoD(InvalidWhite);
        } else {
            oneD(White0)(Black8);
            twoD(White0)(Black8);
        }
    }
    const uint8_t black = 0xFF;
    const Decoded modeZero = Decode(oneD.Bytes(), 8, rows, FaxModeT4OneD, {.bytesPerRow = 216});
    const Decoded modeThree = Decode(twoD.Bytes(), 8, rows, FaxModeT4TwoD, {.bytesPerRow = 216});
    ASSERT_EQ(modeZero.rows.bytes.size(), size_t(rows) * 216);
    ASSERT_EQ(modeThree.rows.bytes.size(), size_t(rows) * 216);
    EXPECT_EQ(modeZero.rows.bytes[4853 * 216], black);
    EXPECT_EQ(modeZero.rows.bytes[4854 * 216], 0x00);  // the reference row of mode 0 stays white
    EXPECT_EQ(modeZero.rows.bytes[4855 * 216], black);  // resynchronised at the next EOL
    EXPECT_EQ(modeThree.rows.bytes[4854 * 216], black);
    EXPECT_EQ(modeThree.rows.bytes[4855 * 216], black);
}

// ---- Hand-made T.4 streams --------------------------------------------------------------------

TEST(FaxDecoder, FillZerosBeforeAnEolAreAccepted) {
    BitString bits;
    bits(std::string(20, '0'))("1")(White4)(Black8)(White4);  // 20 zeros, then the EOL's 1
    bits(Eol)(White0)(Black16);
    bits(std::string(40, '0'))("1")(White8)(Black4)(White4);
    for (uint8_t background : {uint8_t(0x00), uint8_t(0xFF)}) {
        const Decoded out = Decode(bits.Bytes(), 16, 3, FaxModeT4OneD, {.background = background});
        std::vector<uint8_t> expected = Rows16({0x0FF0, 0xFFFF, 0x00F0});
        if (background == 0xFF) {
            for (uint8_t& b : expected) b = uint8_t(~b);
        }
        EXPECT_EQ(out.rows.bytes, expected) << "background " << int(background);
    }
}

TEST(FaxDecoder, ReturnToControlEndsTheStripAtItsSecondEol) {
    BitString bits;
    bits(Eol)(White4)(Black8)(White4);
    bits(Eol)(White0)(Black16);
    for (int i = 0; i < 6; ++i) bits(Eol);
    bits(Eol)(White0)(Black16);  // after the end: not a row of this strip
    const Decoded oneD = Decode(bits.Bytes(), 16, 5, FaxModeT4OneD);
    EXPECT_EQ(oneD.rows.bytes, Rows16({0x0FF0, 0xFFFF, 0, 0, 0}));
}

TEST(FaxDecoder, CorruptRowInModeZeroRepeatsTheRowAboveAndResynchronises) {
    BitString bits;
    bits(Eol)(InvalidWhite)(White8)(Black8);  // first row corrupt: white
    bits(Eol)(White4)(Black8)(White4);
    bits(Eol)(White0)(Black4)(InvalidWhite)("1011 0110 1");  // corrupt after a run: row above
    bits(Eol)(White8)(Black8);
    bits(Eol)(White4)(Black4)("0000 0000 0000 0000 0000 1");  // EOL inside a row ends the strip
    bits(Eol)(White0)(Black16);
    const Decoded out = Decode(bits.Bytes(), 16, 6, FaxModeT4OneD);
    EXPECT_EQ(out.rows.bytes, Rows16({0x0000, 0x0FF0, 0x0FF0, 0x00FF, 0x0F00, 0x0000}));
}

TEST(FaxDecoder, RunWhereTheEolBelongsIsDroppedAndItsRowStaysWhite) {
    BitString bits;
    bits(Eol)(White4)(Black8)(White4);
    bits("10");  // black 3 (the EOL is read with the black tables when white is 0xFF)
    bits(Eol)(White8)(Black8);
    const Decoded out = Decode(bits.Bytes(), 16, 3, FaxModeT4OneD, {.background = 0xFF});
    std::vector<uint8_t> expected = Rows16({0x0FF0, 0x0000, 0x00FF});
    for (uint8_t& b : expected) b = uint8_t(~b);
    EXPECT_EQ(out.rows.bytes, expected);
}

TEST(FaxDecoder, LongBlackRunOfMakeUpAndTerminatingCodesEndsExactlyAtTheWidth) {
    BitString narrow;
    narrow(Eol)(White0)(BlackMakeUp64)(Black36);
    BitString wide;
    wide(Eol)(White0)(MakeUp1984)(Black16);  // an extended make-up code in a black run
    wide(Eol)(White0)(MakeUp1984)(Black16);
    for (uint8_t background : {uint8_t(0x00), uint8_t(0xFF)}) {
        const Decoded a = Decode(narrow.Bytes(), 100, 1, FaxModeT4OneD, {.background = background});
        Bitmap row100(100, 1);
        row100.Fill(0, 0, 100, true);
        EXPECT_EQ(a.rows.bytes, Expected(row100, 16, background));

        const Decoded b = Decode(wide.Bytes(), 2000, 2, FaxModeT4OneD, {.background = background});
        Bitmap row2000(2000, 2);
        row2000.Fill(0, 0, 2000, true);
        row2000.Fill(1, 0, 2000, true);
        EXPECT_EQ(b.rows.bytes, Expected(row2000, 252, background));
    }
    // One pixel narrower: the run passes the row's end, the row is invalid (white, first row).
    const Decoded c = Decode(narrow.Bytes(), 99, 1, FaxModeT4OneD);
    EXPECT_EQ(c.rows.bytes, std::vector<uint8_t>(16, 0));
}

// ---- Hand-made two-dimensional streams ---------------------------------------------------------

TEST(FaxDecoder, VerticalZeroAtRowStartAgainstABlackFirstPixel) {
    BitString bits;
    bits(Horizontal)(White0)(Black4)(Vertical0);  // row 1: four black pixels
    bits(Vertical0)(Vertical0)(Vertical0);        // row 2: a1 = 0, then the black run, then white
    const Decoded out = Decode(bits.Bytes(), 16, 2, FaxModeT6);
    EXPECT_EQ(out.rows.bytes, Rows16({0xF000, 0xF000}));
}

TEST(FaxDecoder, BackToWhiteOnPixelZeroTakesTheFirstElementAgain) {
    // Row 2 turns black on pixel 0 (vertical 0) and white again there (vertical left 1 against the
    // row above's black-to-white change at 1): white at the row's start once more, so b1 is again
    // the row above's first change, on pixel 0, and vertical right 1 starts the black run at 1.
    BitString bits;
    bits(Horizontal)(White0)("010")(Vertical0);           // row 1: pixel 0 black
    bits(Vertical0)("010")("011")(Vertical0);             // row 2: black from pixel 1 to the end
    const Decoded out = Decode(bits.Bytes(), 16, 2, FaxModeT6);
    EXPECT_EQ(out.rows.bytes, Rows16({0x8000, 0x7FFF}));
}

TEST(FaxDecoder, CorruptRowInModeOneLeavesTheRestOfTheChunkWhite) {
    BitString bits;
    bits(Horizontal)(White4)(Black8)(Vertical0);     // 0x0FF0
    bits(Vertical0)(Vertical0)(Vertical0);           // the same again
    bits(Extension)("1111");                         // not a mode code
    bits(Vertical0)(Vertical0)(Vertical0);           // valid, but no resynchronisation in T.6
    const Decoded out = Decode(bits.Bytes(), 16, 5, FaxModeT6);
    EXPECT_EQ(out.rows.bytes, Rows16({0x0FF0, 0x0FF0, 0, 0, 0}));
}

TEST(FaxDecoder, CorruptTwoDimensionalRowInModeThreeRepeatsTheRowAbove) {
    BitString bits;
    bits(Eol)("1")(White4)(Black8)(White4);          // one-dimensional row: 0x0FF0
    bits(Eol)("0")(Vertical0)(Extension)("11");      // two-dimensional row, corrupt
    bits(Eol)("0")("010")(Vertical0)(Vertical0);     // VL1 then V0, V0 against the row above
    const Decoded out = Decode(bits.Bytes(), 16, 3, FaxModeT4TwoD);
    EXPECT_EQ(out.rows.bytes, Rows16({0x0FF0, 0x0FF0, 0x1FF0}));
}

TEST(FaxDecoder, OddLastByteOfAStripIsDecoded) {
    // libtiff writes T.4 strips without a closing EOL sequence, so an odd-sized strip can end in
    // the middle of its last row's codes. Rows ending in black make that last byte count.
    int found = 0;
    for (uint32_t rows = 1; rows < 60 && found < 3; ++rows) {
        Bitmap image = PageLikeImage(1728, rows, 40 + rows);
        image.Fill(rows - 1, 1700, 1728, true);
        const std::vector<uint8_t> strip = EncodeStrip(image, Coding::T4OneD, 1);
        const std::vector<uint8_t> expected = Expected(image, 216, 0);
        const std::vector<uint8_t> cut(strip.begin(), strip.end() - 1);
        if (strip.size() % 2 == 0 || Decode(cut, 1728, rows, FaxModeT4OneD).rows.bytes == expected) continue;
        ++found;
        EXPECT_TRUE(SameRows(expected, Decode(strip, 1728, rows, FaxModeT4OneD).rows.bytes, 216));
    }
    EXPECT_EQ(found, 3);
}

TEST(FaxDecoder, CodeCompletedOnlyByBitsPastTheStripIsNotTaken) {
    // EOL, white 18, then 00001: black 10 (0000100) lacks its last two bits.
    const std::vector<uint8_t> strip = {0x00, 0x14, 0xE1};
    EXPECT_EQ(Decode(strip, 32, 1, FaxModeT4OneD).rows.bytes, std::vector<uint8_t>(4, 0));
    // With one more byte of zeros the code is whole: pixels 18 to 27 are black.
    const std::vector<uint8_t> longer = {0x00, 0x14, 0xE1, 0x00};
    EXPECT_EQ(Decode(longer, 32, 1, FaxModeT4OneD).rows.bytes, (std::vector<uint8_t>{0x00, 0x00, 0x3F, 0xF0}));
}

// ---- Input -------------------------------------------------------------------------------------

TEST(FaxDecoder, ReadsAtMostOneMebibytePerCallAndStopsAfterAShortRead) {
    // All zeros: one endless fill sequence, so every byte is read.
    StripFile file;
    file.data.assign(0x280000, 0);
    Delivered rows;
    auto decoder = std::make_unique<FaxDecoder>();
    InitFaxDecoder(*decoder, 1728, 216, 0x280000 + 0x1001, 1, FaxModeT4OneD, 0xFF, ReadStrip, &file,
                   CollectRows, &rows);
    DecodeFaxRows(*decoder, 3);
    ReleaseFaxDecoder(*decoder);
    // The third request, the rest of the strip, comes back short at the file's end, and nothing
    // more is asked.
    EXPECT_EQ(file.requests, (std::vector<uint32_t>{0x100000, 0x100000, 0x81001}));
    EXPECT_EQ(rows.bytes, std::vector<uint8_t>(3 * 216, 0xFF));
}

uint32_t ReadTooMuch(void*, void* buffer, uint32_t count) {
    std::memset(buffer, 0xFF, count);
    return count + 100;  // a broken read operation
}

TEST(FaxDecoder, ReadClaimingMoreThanAskedIsCut) {
    Delivered rows;
    auto decoder = std::make_unique<FaxDecoder>();
    InitFaxDecoder(*decoder, 16, 4, 10, 1, FaxModeT6, 0, ReadTooMuch, nullptr, CollectRows, &rows);
    DecodeFaxRows(*decoder, 100);  // ten bytes of V0 codes fill 80 rows with V0, V0, ...
    ReleaseFaxDecoder(*decoder);
    EXPECT_EQ(rows.bytes.size(), 400u);
    EXPECT_TRUE(std::all_of(rows.bytes.begin(), rows.bytes.end(), [](uint8_t b) { return b == 0; }));
}

// ---- Geometry the decoder cannot hold ----------------------------------------------------------

TEST(FaxDecoder, RowsThatDoNotFitComeOutWhiteWithoutTouchingOtherMemory) {
    const Bitmap image = PageLikeImage(1728, 10, 8);
    const std::vector<uint8_t> strip = EncodeStrip(image, Coding::T6, 1);
    struct Case { uint32_t width; uint32_t bytesPerRow; };
    for (Case c : {Case{7297, 916}, Case{100000, 12500}, Case{1728, 100}, Case{1728, 1}, Case{0xFFFFFFFF, 4}}) {
        SCOPED_TRACE(std::to_string(c.width) + " pixels, " + std::to_string(c.bytesPerRow) + " bytes per row");
        for (int16_t mode : {FaxModeT4OneD, FaxModeT4TwoD, FaxModeT6}) {
            const Decoded out = Decode(strip, c.width, 10, mode, {.background = 0xFF, .bytesPerRow = c.bytesPerRow});
            EXPECT_EQ(out.rows.bytes, std::vector<uint8_t>(size_t(c.bytesPerRow) * 10, 0xFF));
            EXPECT_TRUE(out.requests.empty());
        }
    }
    // No stride at all: nothing to deliver.
    EXPECT_TRUE(Decode(strip, 0, 10, FaxModeT6, {.bytesPerRow = 0}).rows.calls.empty());
}

TEST(FaxDecoder, WidestRowAndAWideStrideDecode) {
    const Bitmap image = PageLikeImage(FaxMaxWidth, 12, 4);
    const std::vector<uint8_t> strip = EncodeStrip(image, Coding::T4TwoD, 1);
    // A stride wider than the reference row: the bytes past it stay background.
    for (uint32_t stride : {912u, 1000u, 0x180000u}) {
        const Decoded out = Decode(strip, FaxMaxWidth, 12, FaxModeT4TwoD, {.background = 0xFF, .bytesPerRow = stride});
        EXPECT_TRUE(SameRows(Expected(image, stride, 0xFF), out.rows.bytes, stride)) << stride;
        EXPECT_EQ(out.rows.calls.size(), stride > 0x100000 ? 12u : 1u);
    }
}

}  // namespace
