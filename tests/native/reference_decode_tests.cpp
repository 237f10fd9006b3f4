// Real fax pages (the ITU-T test pages, coded by libtiff and JBIG-KIT in the build) decoded by
// the reader and compared pixel for pixel with the reference decoders: jbgtopbm's PBM pages and
// libtiff's own decode. Damaged copies must give the rows the decoding rules prescribe.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <random>

#include "tests/native/page_test_support.h"

namespace {

const std::string Documents = QRV_TEST_DOCUMENTS;
constexpr int PageCount = 8;

std::string DocumentPath(const std::string& variant, int page) {
    return Documents + "/" + variant + "/ccitt" + std::to_string(page) + ".tif";
}

std::string ReferencePath(int page, bool narrow = false) {
    return Documents + "/ref/ccitt" + std::to_string(page) + (narrow ? "_1700" : "") + ".pbm";
}

// libtiff's decode of a document held in memory.
struct LibtiffMemory {
    const std::vector<uint8_t>* bytes;
    uint64_t position = 0;
};

tmsize_t LibtiffRead(thandle_t handle, void* buffer, tmsize_t size) {
    auto* m = static_cast<LibtiffMemory*>(handle);
    if (m->position >= m->bytes->size()) return 0;
    const auto n = static_cast<tmsize_t>(std::min<uint64_t>(static_cast<uint64_t>(size), m->bytes->size() - m->position));
    std::memcpy(buffer, m->bytes->data() + m->position, static_cast<size_t>(n));
    m->position += static_cast<uint64_t>(n);
    return n;
}
tmsize_t LibtiffWrite(thandle_t, void*, tmsize_t) { return -1; }
toff_t LibtiffSeek(thandle_t handle, toff_t offset, int whence) {
    auto* m = static_cast<LibtiffMemory*>(handle);
    m->position = (whence == SEEK_END ? m->bytes->size() : whence == SEEK_CUR ? m->position : 0) + offset;
    return m->position;
}
int LibtiffClose(thandle_t) { return 0; }
toff_t LibtiffSize(thandle_t handle) { return static_cast<LibtiffMemory*>(handle)->bytes->size(); }

Bitmap LibtiffDecode(const std::vector<uint8_t>& document, int directory = 0) {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    LibtiffMemory memory{&document};
    TIFF* tif = TIFFClientOpen("document", "rm", &memory, LibtiffRead, LibtiffWrite, LibtiffSeek,
                               LibtiffClose, LibtiffSize, nullptr, nullptr);
    Bitmap bitmap;
    if (tif == nullptr) return bitmap;
    uint32_t width = 0, height = 0, rowsPerStrip = 0;
    TIFFSetDirectory(tif, static_cast<tdir_t>(directory));
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    bitmap = MakeBitmap(width, height);
    for (uint32_t strip = 0; strip < TIFFNumberOfStrips(tif); ++strip) {
        const uint32_t top = strip * rowsPerStrip;
        const uint32_t rows = std::min(rowsPerStrip, height - top);
        TIFFReadEncodedStrip(tif, strip, bitmap.Row(top), static_cast<tmsize_t>(rows) * bitmap.RowBytes());
    }
    TIFFClose(tif);
    return bitmap;
}

// The strip tables of a little-endian document's first directory, read and patched in place.
struct StripTable {
    uint16_t type = 0;
    uint32_t count = 0;
    size_t values = 0;   // file offset of the first element
};

uint32_t Le32(const std::vector<uint8_t>& d, size_t at) {
    return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | static_cast<uint32_t>(d[at + 3]) << 24;
}

StripTable FindStripTable(const std::vector<uint8_t>& document, uint16_t tag) {
    const uint32_t ifd = Le32(document, 4);
    const uint32_t entries = document[ifd] | document[ifd + 1] << 8;
    for (uint32_t i = 0; i < entries; ++i) {
        const size_t e = ifd + 2 + 12 * i;
        if ((document[e] | document[e + 1] << 8) != tag) continue;
        StripTable t;
        t.type = static_cast<uint16_t>(document[e + 2] | document[e + 3] << 8);
        t.count = Le32(document, e + 4);
        const uint32_t size = t.type == 3 ? 2 : 4;
        t.values = size * t.count <= 4 ? e + 8 : Le32(document, e + 8);
        return t;
    }
    return {};
}

uint32_t StripValue(const std::vector<uint8_t>& document, uint16_t tag, uint32_t index) {
    const StripTable t = FindStripTable(document, tag);
    return t.type == 3 ? document[t.values + 2 * index] | document[t.values + 2 * index + 1] << 8
                       : Le32(document, t.values + 4 * index);
}

void SetStripValue(std::vector<uint8_t>& document, uint16_t tag, uint32_t index, uint32_t value) {
    const StripTable t = FindStripTable(document, tag);
    const size_t at = t.values + (t.type == 3 ? 2 : 4) * index;
    for (uint32_t b = 0; b < (t.type == 3 ? 2u : 4u); ++b) document[at + b] = static_cast<uint8_t>(value >> (8 * b));
}

// The strip with the most data, where damage hits the most rows.
uint32_t BusiestStrip(const std::vector<uint8_t>& document) {
    const StripTable counts = FindStripTable(document, 279);
    uint32_t best = 0;
    for (uint32_t i = 1; i < counts.count; ++i) {
        if (StripValue(document, 279, i) > StripValue(document, 279, best)) best = i;
    }
    return best;
}

// The bits of a strip in transmission order (FillOrder 1: most significant bit first).
std::vector<bool> StripBits(const std::vector<uint8_t>& document, uint32_t strip) {
    const uint32_t offset = StripValue(document, 273, strip);
    const uint32_t count = StripValue(document, 279, strip);
    std::vector<bool> bits;
    for (uint32_t i = 0; i < count; ++i) {
        for (int b = 7; b >= 0; --b) bits.push_back((document[offset + i] >> b) & 1);
    }
    return bits;
}

void PutStripBits(std::vector<uint8_t>& document, uint32_t strip, const std::vector<bool>& bits) {
    const uint32_t offset = StripValue(document, 273, strip);
    const uint32_t count = StripValue(document, 279, strip);
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t byte = 0;
        for (uint32_t b = 0; b < 8; ++b) {
            const size_t at = 8 * static_cast<size_t>(i) + b;
            byte = static_cast<uint8_t>(byte << 1 | (at < bits.size() && bits[at] ? 1 : 0));
        }
        document[offset + i] = byte;
    }
}

// Where each row's code begins: just after its EOL (eleven or more zeros and a one).
std::vector<size_t> RowStarts(const std::vector<bool>& bits) {
    std::vector<size_t> starts;
    size_t zeros = 0;
    for (size_t i = 0; i < bits.size(); ++i) {
        if (!bits[i]) {
            ++zeros;
            continue;
        }
        if (zeros >= 11) starts.push_back(i + 1);
        zeros = 0;
    }
    return starts;
}

void ExpectPageEquals(const DecodedPage& page, const Bitmap& expected, const std::string& what) {
    ASSERT_TRUE(page.opened) << what;
    ASSERT_EQ(page.width, expected.width) << what;
    ASSERT_EQ(page.height, expected.height) << what;
    ASSERT_GE(page.RowsDelivered(), expected.height) << what;
    EXPECT_EQ(FirstDifferentRow(page, expected), expected.height) << what;
}

TEST(ReferenceDecode, TheTestDocumentsAreWhatTheySeemToLibtiff) {
    // Guards the test data: libtiff's decode of every fax variant is the reference page.
    for (const char* variant : {"t4_1d", "t4_1d_fill", "t4_2d", "t4_2d_fill", "t4_2d_lsb", "t4_2d_be",
                                "t6", "t6_lsb", "t6_be", "t6_rows64", "t6_one_strip"}) {
        for (int page = 1; page <= PageCount; ++page) {
            const Bitmap reference = ReadPbm(ReferencePath(page));
            ASSERT_EQ(reference.width, 1728u);
            EXPECT_EQ(LibtiffDecode(ReadWholeFile(DocumentPath(variant, page))).bits, reference.bits)
                << variant << " " << page;
        }
    }
}

TEST(ReferenceDecode, EveryVariantOfEveryPageDecodesPixelForPixel) {
    const char* variants[] = {"t4_1d", "t4_1d_fill", "t4_2d", "t4_2d_fill", "t4_2d_lsb", "t4_2d_be",
                              "t6", "t6_lsb", "t6_be", "t6_rows64", "t6_one_strip", "jbig",
                              "jbig_strips", "jbig_minisblack", "jbig_nophotometric", "jbig_layers",
                              "jbig_t85"};
    std::vector<Bitmap> references;
    for (int page = 1; page <= PageCount; ++page) references.push_back(ReadPbm(ReferencePath(page)));
    for (const char* variant : variants) {
        for (int page = 1; page <= PageCount; ++page) {
            const std::string what = std::string(variant) + " page " + std::to_string(page);
            ExpectPageEquals(DecodePage(ReadWholeFile(DocumentPath(variant, page)), 0),
                             references[static_cast<size_t>(page - 1)], what);
        }
    }
    for (const char* variant : {"t6_1700", "jbig_1700"}) {
        for (int page = 1; page <= PageCount; ++page) {
            const DecodedPage decoded = DecodePage(ReadWholeFile(DocumentPath(variant, page)), 0);
            ExpectPageEquals(decoded, ReadPbm(ReferencePath(page, true)), variant);
            // Padding past the width is white.
            for (uint32_t y = 0; y < decoded.height; y += 97) {
                EXPECT_EQ(decoded.Row(y)[212] & 0x0F, 0x0F);
                EXPECT_EQ(decoded.Row(y)[215], 0xFF);
            }
        }
    }
}

TEST(ReferenceDecode, DecodeModesOfTheVariants) {
    EXPECT_EQ(DecodePage(ReadWholeFile(DocumentPath("t4_1d", 1)), 0).mode, DecodeModeT4OneD);
    EXPECT_EQ(DecodePage(ReadWholeFile(DocumentPath("t4_2d", 1)), 0).mode, DecodeModeT4TwoD);
    EXPECT_EQ(DecodePage(ReadWholeFile(DocumentPath("t6", 1)), 0).mode, DecodeModeT6);
    EXPECT_EQ(DecodePage(ReadWholeFile(DocumentPath("jbig", 1)), 0).mode, DecodeModeJbig);
}

TEST(ReferenceDecode, PagesOfMultiPageDocuments) {
    std::vector<Bitmap> references;
    for (int page = 1; page <= PageCount; ++page) references.push_back(ReadPbm(ReferencePath(page)));

    const auto plain = ReadWholeFile(Documents + "/multipage/t6_pages.tif");
    for (int index = 0; index < PageCount; ++index) {
        ExpectPageEquals(DecodePage(plain, static_cast<uint32_t>(index)), references[static_cast<size_t>(index)],
                         "t6_pages " + std::to_string(index));
    }
    EXPECT_FALSE(DecodePage(plain, PageCount).opened);

    // PageNumber counts down along the chain: the first directory whose number or place matches.
    const auto numbered = ReadWholeFile(Documents + "/multipage/t6_pages_numbered_down.tif");
    for (int index = 0; index < PageCount; ++index) {
        const int directory = std::min(index, PageCount - 1 - index);
        ExpectPageEquals(DecodePage(numbered, static_cast<uint32_t>(index)),
                         references[static_cast<size_t>(directory)], "numbered " + std::to_string(index));
    }

    const auto mixed = ReadWholeFile(Documents + "/multipage/mixed.tif");
    const DecodedPage first = DecodePage(mixed, 0);
    const DecodedPage second = DecodePage(mixed, 1);
    const DecodedPage third = DecodePage(mixed, 2);
    EXPECT_EQ(first.mode, DecodeModeT4OneD);
    EXPECT_EQ(second.mode, DecodeModeT4TwoD);
    EXPECT_EQ(third.mode, DecodeModeT6);
    ExpectPageEquals(first, references[0], "mixed 0");
    ExpectPageEquals(second, references[1], "mixed 1");
    ExpectPageEquals(third, references[0], "mixed 2");
}

// --- Damaged documents ---

// Rows of other strips than the damaged one are untouched by the damage.
void ExpectOtherStripsIntact(const DecodedPage& page, const Bitmap& reference, uint32_t stripTop,
                             uint32_t stripRows, const std::string& what) {
    ASSERT_GE(page.RowsDelivered(), reference.height) << what;
    for (uint32_t y = 0; y < reference.height; ++y) {
        if (y >= stripTop && y < stripTop + stripRows) continue;
        ASSERT_TRUE(RowShows(page, y, reference, y)) << what << ": row " << y;
    }
}

uint32_t FirstDifferentRowIn(const DecodedPage& page, const Bitmap& reference, uint32_t top, uint32_t rows) {
    for (uint32_t y = top; y < top + rows; ++y) {
        if (!RowShows(page, y, reference, y)) return y;
    }
    return top + rows;
}

uint32_t FirstDifferentRowIn(const Bitmap& decoded, const Bitmap& reference, uint32_t top, uint32_t rows) {
    for (uint32_t y = top; y < top + rows; ++y) {
        if (std::memcmp(decoded.Row(y), reference.Row(y), reference.RowBytes()) != 0) return y;
    }
    return top + rows;
}

TEST(ReferenceDecode, GarbageAfterEveryStripChangesNothing) {
    // Every strip's byte count reaches 64 bytes further (into the next strip, or the directory
    // and the garbage appended to the file): the decoders stop after their rows.
    std::mt19937 random(7);
    for (const char* variant : {"t4_1d", "t4_2d", "t4_2d_fill", "t6", "jbig_strips"}) {
        for (int page : {1, 5}) {
            std::vector<uint8_t> document = ReadWholeFile(DocumentPath(variant, page));
            const uint32_t strips = FindStripTable(document, 279).count;
            for (uint32_t i = 0; i < strips; ++i) SetStripValue(document, 279, i, StripValue(document, 279, i) + 64);
            for (int i = 0; i < 64; ++i) document.push_back(static_cast<uint8_t>(random()));
            ExpectPageEquals(DecodePage(document, 0), ReadPbm(ReferencePath(page)),
                             std::string(variant) + " page " + std::to_string(page));
        }
    }
}

TEST(ReferenceDecode, ATruncatedFaxStripKeepsItsCompleteRowsAndTheRestIsWhite) {
    // Half of the busiest strip's bytes: the rows coded before the cut are as the reference
    // (libtiff finds them too), the row the input ends in may be partly painted, every later row
    // of the strip stays white, and the other strips are untouched.
    for (const char* variant : {"t6", "t4_2d", "t4_1d"}) {
        for (int page : {1, 2, 7}) {
            const std::string what = std::string(variant) + " page " + std::to_string(page);
            const Bitmap reference = ReadPbm(ReferencePath(page));
            std::vector<uint8_t> document = ReadWholeFile(DocumentPath(variant, page));
            const uint32_t strip = BusiestStrip(document);
            SetStripValue(document, 279, strip, StripValue(document, 279, strip) / 2);
            const uint32_t top = strip * 37;
            const uint32_t rows = std::min(37u, reference.height - top);

            const uint32_t libtiffComplete = FirstDifferentRowIn(LibtiffDecode(document), reference, top, rows);
            ASSERT_GT(libtiffComplete, top) << what;
            ASSERT_LT(libtiffComplete, top + rows) << what;

            const DecodedPage decoded = DecodePage(document, 0);
            ExpectOtherStripsIntact(decoded, reference, top, rows, what);
            const uint32_t ours = FirstDifferentRowIn(decoded, reference, top, rows);
            EXPECT_GE(ours + 1, libtiffComplete) << what;
            EXPECT_LE(ours, libtiffComplete + 1) << what;
            for (uint32_t y = ours + 1; y < top + rows; ++y) EXPECT_TRUE(RowIsWhite(decoded, y)) << what << " row " << y;
        }
    }
}

TEST(ReferenceDecode, AnInvalidCodeInAOneDimensionalRowRepeatsTheRowAbove) {
    // The row's first code becomes eight zeros and a one, which no code table holds: the row is
    // replaced by the row above and decoding resumes at the next EOL. In a strip's first row
    // there is no row above in the strip, so it stays white.
    for (const char* variant : {"t4_1d", "t4_1d_fill"}) {
        for (int page : {1, 4}) {
            const std::string what = std::string(variant) + " page " + std::to_string(page);
            Bitmap expected = ReadPbm(ReferencePath(page));
            std::vector<uint8_t> document = ReadWholeFile(DocumentPath(variant, page));
            const uint32_t strip = BusiestStrip(document);
            const uint32_t other = strip == 0 ? 1 : strip - 1;
            for (auto [s, row] : {std::pair{strip, 10u}, {other, 0u}}) {
                std::vector<bool> bits = StripBits(document, s);
                const std::vector<size_t> starts = RowStarts(bits);
                ASSERT_GT(starts.size(), row + 1) << what;
                for (size_t b = 0; b < 8; ++b) bits[starts[row] + b] = false;
                bits[starts[row] + 8] = true;
                PutStripBits(document, s, bits);
                const uint32_t y = s * 37 + row;
                if (row == 0) std::fill(expected.Row(y), expected.Row(y) + expected.RowBytes(), 0);
                else std::memcpy(expected.Row(y), expected.Row(y - 1), expected.RowBytes());
            }
            ExpectPageEquals(DecodePage(document, 0), expected, what);
        }
    }
}

TEST(ReferenceDecode, AnInvalidTwoDimensionalRowBeforeAOneDimensionalRowRepeatsTheRowAbove) {
    // The invalid row is copied from the row above; the next row is coded one-dimensionally, so
    // nothing after it depends on the damaged row.
    for (const char* variant : {"t4_2d", "t4_2d_fill"}) {
        for (int page : {1, 3}) {
            const std::string what = std::string(variant) + " page " + std::to_string(page);
            Bitmap expected = ReadPbm(ReferencePath(page));
            std::vector<uint8_t> document = ReadWholeFile(DocumentPath(variant, page));
            const uint32_t strip = BusiestStrip(document);
            std::vector<bool> bits = StripBits(document, strip);
            const std::vector<size_t> starts = RowStarts(bits);
            size_t row = 1;
            while (row + 1 < starts.size() && !(bits[starts[row]] == false && bits[starts[row + 1]] == true)) ++row;
            ASSERT_LT(row + 1, starts.size()) << what;
            // After the tag bit 0: the extension prefix 0000001, invalid in these documents.
            for (size_t b = 1; b <= 6; ++b) bits[starts[row] + b] = false;
            bits[starts[row] + 7] = true;
            PutStripBits(document, strip, bits);
            const uint32_t y = strip * 37 + static_cast<uint32_t>(row);
            std::memcpy(expected.Row(y), expected.Row(y - 1), expected.RowBytes());
            ExpectPageEquals(DecodePage(document, 0), expected, what);
        }
    }
}

TEST(ReferenceDecode, AFlippedBitInAT6StripLeavesTheRowsBeforeItAndTheOtherStrips) {
    for (int page = 1; page <= PageCount; ++page) {
        const std::string what = "t6 page " + std::to_string(page);
        const Bitmap reference = ReadPbm(ReferencePath(page));
        std::vector<uint8_t> document = ReadWholeFile(DocumentPath("t6", page));
        const uint32_t strip = BusiestStrip(document);
        const uint32_t offset = StripValue(document, 273, strip);
        const uint32_t count = StripValue(document, 279, strip);
        const uint32_t top = strip * 37;
        const uint32_t rows = std::min(37u, reference.height - top);
        document[offset + count / 2] ^= 0x10;

        // libtiff reads the same codes up to the flipped bit.
        const uint32_t libtiffGood = FirstDifferentRowIn(LibtiffDecode(document), reference, top, rows);
        const DecodedPage decoded = DecodePage(document, 0);
        ExpectOtherStripsIntact(decoded, reference, top, rows, what);
        EXPECT_GE(FirstDifferentRowIn(decoded, reference, top, rows) + 1, libtiffGood) << what;
    }
}

TEST(ReferenceDecode, AMissingEolLeavesTheRowsBeforeItAndTheOtherStrips) {
    for (int page : {1, 2}) {
        const std::string what = "t4_1d page " + std::to_string(page);
        const Bitmap reference = ReadPbm(ReferencePath(page));
        std::vector<uint8_t> document = ReadWholeFile(DocumentPath("t4_1d", page));
        const uint32_t strip = BusiestStrip(document);
        std::vector<bool> bits = StripBits(document, strip);
        const std::vector<size_t> starts = RowStarts(bits);
        ASSERT_GT(starts.size(), 20u);
        bits.erase(bits.begin() + static_cast<long>(starts[20] - 12), bits.begin() + static_cast<long>(starts[20]));
        PutStripBits(document, strip, bits);
        const uint32_t top = strip * 37;
        const DecodedPage decoded = DecodePage(document, 0);
        ExpectOtherStripsIntact(decoded, reference, top, 37, what);
        EXPECT_GE(FirstDifferentRowIn(decoded, reference, top, 37), top + 20) << what;
    }
}

TEST(ReferenceDecode, DamagedJbigStripsStayInTheirPlace) {
    // jbig_t85 is coded as fax machines code JBIG (T.85), jbig_strips with JBIG-KIT's defaults.
    for (auto [variant, page] : {std::pair{"jbig_t85", 1}, {"jbig_t85", 6}, {"jbig_strips", 1}}) {
        const bool faxProfile = std::string(variant) == "jbig_t85";
        const std::string what = std::string(variant) + " page " + std::to_string(page);
        const Bitmap reference = ReadPbm(ReferencePath(page));
        const std::vector<uint8_t> original = ReadWholeFile(DocumentPath(variant, page));
        const uint32_t stripRows = (reference.height + 2) / 3;
        const uint32_t offset = StripValue(original, 273, 1);
        const uint32_t count = StripValue(original, 279, 1);

        // Bits flipped in the middle strip's coded data: the other strips are untouched.
        std::vector<uint8_t> flipped = original;
        for (uint32_t i = 40; i < count; i += count / 7) flipped[offset + i] ^= 0x5A;
        ExpectOtherStripsIntact(DecodePage(flipped, 0), reference, stripRows, stripRows, what);

        // The middle strip cut short: its rows up to the cut, then white. JBIG-KIT gives no
        // plane for an incomplete image whose stripes are interleaved: all its rows are white.
        std::vector<uint8_t> cut = original;
        SetStripValue(cut, 279, 1, count / 2);
        const DecodedPage decoded = DecodePage(cut, 0);
        ExpectOtherStripsIntact(decoded, reference, stripRows, stripRows, what);
        const uint32_t good = FirstDifferentRowIn(decoded, reference, stripRows, stripRows);
        if (faxProfile) {
            EXPECT_GT(good, stripRows + 100) << what;
        }
        for (uint32_t y = good + 1; y < 2 * stripRows; ++y) EXPECT_TRUE(RowIsWhite(decoded, y)) << what << " row " << y;

        // Cut inside its header: the strip's rows are white.
        SetStripValue(cut, 279, 1, 12);
        const DecodedPage headless = DecodePage(cut, 0);
        ExpectOtherStripsIntact(headless, reference, stripRows, stripRows, what);
        for (uint32_t y = stripRows; y < 2 * stripRows; ++y) ASSERT_TRUE(RowIsWhite(headless, y)) << what << " row " << y;
    }
}

}  // namespace
