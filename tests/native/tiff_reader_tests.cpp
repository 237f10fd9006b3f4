// The TIFF reader on documents written here: byte orders, page search, decode modes,
// resolutions, strides, strip walks, and directories that lie.
#include <gtest/gtest.h>

#include "tests/data/tiff_builder.h"
#include "tests/native/page_test_support.h"

namespace {

std::vector<TiffEntry> PageEntries(uint32_t width, uint32_t height, uint32_t compression) {
    return {Long(256, {width}), Long(257, {height}), Short(259, {compression}),
            Rational(282, 200, 1), Rational(283, 200, 1), Short(296, {2})};
}

// A page of JBIG strips cut from the bitmap, rowsPerStrip rows each.
TiffPage JbigPage(const Bitmap& image, uint32_t rowsPerStrip, uint16_t stripTableType = 4) {
    TiffPage page;
    page.entries = PageEntries(image.width, image.height, 9);
    page.entries.push_back(Long(278, {rowsPerStrip}));
    page.stripTableType = stripTableType;
    for (uint32_t top = 0; top < image.height; top += rowsPerStrip) {
        const uint32_t rows = std::min(rowsPerStrip, image.height - top);
        Bitmap piece = MakeBitmap(image.width, rows);
        std::memcpy(piece.bits.data(), image.Row(top), piece.bits.size());
        page.strips.push_back(EncodeJbig(piece));
    }
    return page;
}

// A page that only says who it is: its width tells pages apart.
TiffPage MarkerPage(uint32_t width, std::optional<uint32_t> pageNumber = {}) {
    TiffPage page;
    page.entries = PageEntries(width, 10, 4);
    page.strips = {{0xFF, 0xFF}};
    if (pageNumber) page.entries.push_back(Short(297, {*pageNumber, 3}));
    return page;
}

uint32_t WidthOfPage(const std::vector<uint8_t>& document, uint32_t index) {
    MemoryFile file{document};
    PageInfo info;
    return ReadTiffPageInfo(MemoryRead, MemorySeek, &file, index, info) ? static_cast<uint32_t>(info.width) : 0;
}

PageInfo InfoOf(const std::vector<uint8_t>& document, bool* found = nullptr) {
    MemoryFile file{document};
    PageInfo info;
    const int result = ReadTiffPageInfo(MemoryRead, MemorySeek, &file, 0, info);
    if (found) *found = result == 1;
    return info;
}

void ExpectPageShows(const DecodedPage& page, const Bitmap& image) {
    ASSERT_TRUE(page.opened);
    ASSERT_GE(page.RowsDelivered(), image.height);
    EXPECT_EQ(FirstDifferentRow(page, image), image.height);
}

TEST(TiffReader, ByteOrderComesFromTheFirstTwoBytesAndOnlyMmIsBigEndian) {
    const std::vector<uint8_t> little = BuildTiff({MarkerPage(300)});
    for (const char* mark : {"II", "MI", "IM", "XY"}) {
        std::vector<uint8_t> document = little;
        document[0] = static_cast<uint8_t>(mark[0]);
        document[1] = static_cast<uint8_t>(mark[1]);
        EXPECT_EQ(WidthOfPage(document, 0), 300u) << mark;
    }
    EXPECT_EQ(WidthOfPage(BuildTiff({MarkerPage(300)}, true), 0), 300u);
    // The same bytes read in the other order point nowhere sensible.
    std::vector<uint8_t> wrong = little;
    wrong[0] = wrong[1] = 'M';
    EXPECT_EQ(WidthOfPage(wrong, 0), 0u);
}

TEST(TiffReader, PagesWithoutPageNumberAreFoundByTheirPlaceInTheChain) {
    const auto document = BuildTiff({MarkerPage(100), MarkerPage(200), MarkerPage(300)});
    EXPECT_EQ(WidthOfPage(document, 0), 100u);
    EXPECT_EQ(WidthOfPage(document, 1), 200u);
    EXPECT_EQ(WidthOfPage(document, 2), 300u);
    EXPECT_EQ(WidthOfPage(document, 3), 0u);
    EXPECT_EQ(WidthOfPage(document, 70000), 0u);
}

TEST(TiffReader, TheFirstDirectoryWhosePageNumberOrPlaceMatchesWins) {
    const auto document = BuildTiff({MarkerPage(100, 2), MarkerPage(200, 1), MarkerPage(300, 0)});
    EXPECT_EQ(WidthOfPage(document, 0), 100u);   // its place matches before page 0 is reached
    EXPECT_EQ(WidthOfPage(document, 1), 200u);
    EXPECT_EQ(WidthOfPage(document, 2), 100u);
    EXPECT_EQ(WidthOfPage(document, 3), 0u);
    // Numbered pages out of chain order in a big-endian file (the pair's first value counts).
    const auto numbered = BuildTiff({MarkerPage(100, 1), MarkerPage(200, 2), MarkerPage(300, 5)}, true);
    EXPECT_EQ(WidthOfPage(numbered, 5), 300u);
    EXPECT_EQ(WidthOfPage(numbered, 4), 0u);
}

TEST(TiffReader, DecodeModeFollowsCompressionAndT4Options) {
    struct Case {
        uint32_t compression;
        std::optional<uint32_t> t4Options;
        bool opens;
        DecodeMode mode;
    };
    const Case cases[] = {
        {3, 0u, true, DecodeModeT4OneD},     {3, 1u, true, DecodeModeT4TwoD},
        {3, 5u, true, DecodeModeT4TwoD},     {3, 4u, true, DecodeModeT4OneD},
        {3, {}, true, DecodeModeT4TwoD},     {4, {}, true, DecodeModeT6},
        {4, 0u, true, DecodeModeT6},         {9, {}, true, DecodeModeJbig},
        {1, {}, false, DecodeModeUnsupported}, {2, {}, false, DecodeModeUnsupported},
        {7, {}, false, DecodeModeUnsupported}, {34661, {}, false, DecodeModeUnsupported},
    };
    for (const Case& c : cases) {
        TiffPage page;
        page.entries = PageEntries(64, 4, c.compression);
        if (c.t4Options) page.entries.push_back(Long(292, {*c.t4Options}));
        page.strips = {{0xFF}};
        const DecodedPage decoded = DecodePage(BuildTiff({page}), 0);
        EXPECT_EQ(decoded.opened, c.opens) << c.compression;
        if (c.opens) {
            EXPECT_EQ(decoded.mode, c.mode) << c.compression << " " << c.t4Options.value_or(99);
        }
    }
    // No Compression at all is no supported compression either.
    TiffPage bare;
    bare.entries = {Long(256, {64}), Long(257, {4}), Rational(282, 200, 1), Rational(283, 200, 1)};
    bare.strips = {{0xFF}};
    EXPECT_FALSE(DecodePage(BuildTiff({bare}), 0).opened);
}

TEST(TiffReader, ResolutionsBecomeDotsPerInch) {
    struct Case {
        uint32_t unit;
        uint32_t numerator;
        uint32_t denominator;
        int32_t dpi;   // 0: the page is refused
    };
    const Case cases[] = {
        {3, 77, 1, 195},     {2, 400, 1, 400},   {2, 2031, 10, 203}, {1, 300, 1, 300},
        {3, 787, 10, 199},   {2, 0, 1, 0},       {2, 200, 0, 0},     {2, 40000, 1, 0},
        {3, 0xFFFFFFFF, 1, 0}, {2, 1, 2, 0},
    };
    for (const Case& c : cases) {
        TiffPage page;
        page.entries = {Long(256, {64}), Long(257, {4}), Short(259, {4}), Rational(282, c.numerator, c.denominator),
                        Rational(283, 100, 1), Short(296, {c.unit})};
        page.strips = {{0xFF}};
        bool found = false;
        const PageInfo info = InfoOf(BuildTiff({page}), &found);
        EXPECT_EQ(found, c.dpi != 0) << c.numerator << "/" << c.denominator;
        if (!found) continue;
        EXPECT_EQ(info.xResolution, c.dpi) << c.numerator << "/" << c.denominator;
        EXPECT_EQ(info.yResolution, c.unit == 3 ? 254 : 100);
    }
}

TEST(TiffReader, APageWithoutBothResolutionsIsRefused) {
    for (uint16_t missing : {282, 283}) {
        TiffPage page;
        for (const TiffEntry& e : PageEntries(64, 4, 4)) {
            if (e.tag != missing) page.entries.push_back(e);
        }
        page.strips = {{0xFF}};
        EXPECT_FALSE(DecodePage(BuildTiff({page}), 0).opened) << missing;
    }
    // A whole-number resolution of another type is taken as it stands.
    TiffPage shortResolution;
    shortResolution.entries = {Long(256, {64}), Long(257, {4}), Short(259, {4}), Short(282, {300}), Long(283, {150})};
    shortResolution.strips = {{0xFF}};
    const PageInfo info = InfoOf(BuildTiff({shortResolution}));
    EXPECT_EQ(info.xResolution, 300);
    EXPECT_EQ(info.yResolution, 150);
}

TEST(TiffReader, RowStrideIsDwordAligned) {
    for (auto [width, stride] : {std::pair{1u, 4u}, {32u, 4u}, {33u, 8u}, {1700u, 216u}, {1728u, 216u}, {7296u, 912u}}) {
        TiffPage page;
        page.entries = PageEntries(width, 2, 4);
        page.strips = {{0xFF}};
        const DecodedPage decoded = DecodePage(BuildTiff({page}), 0);
        ASSERT_TRUE(decoded.opened) << width;
        EXPECT_EQ(decoded.stride, stride) << width;
        EXPECT_EQ(decoded.rows.size(), 2u * stride);   // two white rows of T.6 code "1"
        EXPECT_TRUE(RowIsWhite(decoded, 0) && RowIsWhite(decoded, 1));
    }
}

TEST(TiffReader, PagesThatCannotBeDecodedInBoundedMemoryAreRefused) {
    auto opens = [](uint32_t width, uint32_t height, uint32_t compression, bool withLength = true) {
        TiffPage page;
        page.entries = PageEntries(width, height, compression);
        if (!withLength) page.entries.erase(page.entries.begin() + 1);
        page.strips = {{0xFF}};
        return DecodePage(BuildTiff({page}), 0).opened;
    };
    EXPECT_TRUE(opens(FaxMaxWidth, 10, 4));
    EXPECT_FALSE(opens(FaxMaxWidth + 1, 10, 4));   // wider than the fax decoder's reference row
    EXPECT_FALSE(opens(FaxMaxWidth + 1, 10, 3));
    EXPECT_TRUE(opens(FaxMaxWidth + 1, 10, 9));    // JBIG has no such limit
    EXPECT_FALSE(opens(0, 10, 4));
    EXPECT_FALSE(opens(1728, 0, 4));
    EXPECT_FALSE(opens(1728, 1000000000, 4));
    EXPECT_TRUE(opens(1728, 100000, 4));           // 21 MB of rows: a long page, but a page
    EXPECT_FALSE(opens(1728, 0, 4, false));        // no ImageLength
}

TEST(TiffReader, EveryStripDeliversItsRowsEvenPastTheImageLength) {
    // 150 rows in strips of 64: the third strip still gives 64 rows, as its JBIG image has them.
    Bitmap image = PatternBitmap(200, 192);
    TiffPage page = JbigPage(image, 64);
    page.entries[1] = Long(257, {150});
    const DecodedPage decoded = DecodePage(BuildTiff({page}), 0);
    ASSERT_TRUE(decoded.opened);
    EXPECT_EQ(decoded.RowsDelivered(), 192u);
    EXPECT_EQ(FirstDifferentRow(decoded, image), 192u);
}

TEST(TiffReader, StripTablesOfShortsAreReadInEitherByteOrder) {
    const Bitmap image = PatternBitmap(120, 90, 3);
    for (bool bigEndian : {false, true}) {
        // Two strips keep their SHORT tables inline, three need them out of line.
        for (uint32_t rowsPerStrip : {45u, 30u}) {
            const DecodedPage decoded = DecodePage(BuildTiff({JbigPage(image, rowsPerStrip, 3)}, bigEndian), 0);
            ExpectPageShows(decoded, image);
            EXPECT_EQ(decoded.RowsDelivered(), 90u) << bigEndian << " " << rowsPerStrip;
        }
    }
}

TEST(TiffReader, StripRowCountsApplyWhenRowsPerStripIsNotGiven) {
    const Bitmap image = PatternBitmap(64, 60, 5);
    TiffPage page = JbigPage(image, 60);
    // Strips of 10, 20 and 30 rows, described by StripRowCounts alone.
    page.entries.pop_back();
    page.strips.clear();
    uint32_t top = 0;
    for (uint32_t rows : {10u, 20u, 30u}) {
        Bitmap piece = MakeBitmap(64, rows);
        std::memcpy(piece.bits.data(), image.Row(top), piece.bits.size());
        page.strips.push_back(EncodeJbig(piece));
        top += rows;
    }
    page.entries.push_back(Long(559, {10, 20, 30}));
    ExpectPageShows(DecodePage(BuildTiff({page}), 0), image);

    // A RowsPerStrip with all ones in its low half counts as not given.
    page.entries.push_back(Long(278, {0x0001FFFF}));
    ExpectPageShows(DecodePage(BuildTiff({page}), 0), image);
}

TEST(TiffReader, WithoutRowCountsTheFirstStripHoldsTheWholePage) {
    const Bitmap image = PatternBitmap(64, 40, 2);
    TiffPage page = JbigPage(image, 40);
    page.entries.pop_back();                          // no RowsPerStrip
    page.strips.push_back(EncodeJbig(PatternBitmap(64, 40, 9)));   // a second strip never reached
    const DecodedPage decoded = DecodePage(BuildTiff({page}), 0);
    ExpectPageShows(decoded, image);
    EXPECT_EQ(decoded.RowsDelivered(), 40u);
}

TEST(TiffReader, RowsThatNoStripCoversAreWhite) {
    // RowsPerStrip 10 but only two strips for 50 rows: the loop ends after the last entry and
    // the page still gets all its rows.
    const Bitmap image = PatternBitmap(64, 20, 4);
    TiffPage page = JbigPage(image, 10);
    page.entries[1] = Long(257, {50});
    const DecodedPage decoded = DecodePage(BuildTiff({page}), 0);
    ASSERT_TRUE(decoded.opened);
    ASSERT_EQ(decoded.RowsDelivered(), 50u);
    EXPECT_EQ(FirstDifferentRow(decoded, image), 20u);
    for (uint32_t y = 20; y < 50; ++y) EXPECT_TRUE(RowIsWhite(decoded, y)) << y;

    // RowsPerStrip 0: no strip has rows; the page is white.
    page.entries.back() = Long(278, {0});
    const DecodedPage none = DecodePage(BuildTiff({page}), 0);
    ASSERT_EQ(none.RowsDelivered(), 50u);
    for (uint32_t y = 0; y < 50; ++y) EXPECT_TRUE(RowIsWhite(none, y)) << y;
}

void CountPartialRows(void* context, const uint8_t*, uint32_t count) {
    auto* calls = static_cast<std::pair<uint32_t, uint32_t>*>(context);   // stride, partial calls
    if (count % calls->first != 0) ++calls->second;
}

TEST(TiffReader, WhiteRowsReachTheSinkAsWholeRows) {
    // 10000 rows of a 216-byte stride: more than a 1 MiB piece, which is no multiple of 216.
    TiffPage page;
    page.entries = PageEntries(1700, 10000, 4);
    page.entries.push_back(Long(278, {0}));
    page.strips = {{0xFF}};
    const auto document = BuildTiff({page});
    MemoryFile file{document};
    static PageDecodeContext context;
    std::pair<uint32_t, uint32_t> calls{216, 0};
    ASSERT_EQ(OpenTiffPage(context, MemoryRead, MemorySeek, &file, CountPartialRows, &calls, 0, 0xFF), 1);
    DecodeTiffPage(context);
    EXPECT_EQ(context.bytesDelivered, 10000u * 216);
    CloseTiffPage(context);
    EXPECT_EQ(calls.second, 0u);
}

TEST(TiffReader, StripsPastTheFileEndGiveWhiteRowsInTheirPlace) {
    const Bitmap image = PatternBitmap(64, 30, 6);
    TiffPage page = JbigPage(image, 10);
    std::vector<uint8_t> document = BuildTiff({page});
    // The strips are written first, from offset 8 on: move the middle one's offset out of the file.
    MemoryFile probe{document};
    TiffDirectory* directory = FindTiffPage(MemoryRead, MemorySeek, &probe, 0);
    ASSERT_NE(directory, nullptr);
    const uint32_t tableOffset = [&] {
        // Find the StripOffsets array in the file: three LONGs equal to the strips' offsets.
        for (size_t at = 0; at + 12 <= document.size(); at += 2) {
            uint32_t v[3];
            std::memcpy(v, document.data() + at, 12);
            if (v[0] == TiffFieldValue(directory->fields[SlotStripOffsets], 0) &&
                v[1] == TiffFieldValue(directory->fields[SlotStripOffsets], 1) &&
                v[2] == TiffFieldValue(directory->fields[SlotStripOffsets], 2)) {
                return static_cast<uint32_t>(at);
            }
        }
        return 0u;
    }();
    FreeTiffDirectory(directory);
    ASSERT_NE(tableOffset, 0u);
    const uint32_t pastEnd = 0xFFFFFF00;
    std::memcpy(document.data() + tableOffset + 4, &pastEnd, 4);

    const DecodedPage decoded = DecodePage(document, 0);
    ASSERT_TRUE(decoded.opened);
    ASSERT_EQ(decoded.RowsDelivered(), 30u);
    for (uint32_t y = 0; y < 30; ++y) {
        if (y >= 10 && y < 20) EXPECT_TRUE(RowIsWhite(decoded, y)) << y;
        else EXPECT_TRUE(RowShows(decoded, y, image, y)) << y;
    }
}

TEST(TiffReader, ARepeatedTagReplacesTheEarlierEntry) {
    TiffPage page = MarkerPage(100);
    page.entries.push_back(Long(256, {200}));
    // A repeated out-of-line value: the first array is released, not leaked.
    page.entries.push_back(Rational(282, 300, 1));
    page.entries.push_back(Rational(282, 600, 2));
    const auto document = BuildTiff({page});
    EXPECT_EQ(WidthOfPage(document, 0), 200u);
    EXPECT_EQ(InfoOf(document).xResolution, 300);
}

TEST(TiffReader, UnknownTagsAndTypesAreSkipped) {
    TiffPage page = MarkerPage(100);
    page.entries.push_back(TiffEntry{269, 2, {'a', 'b', 'c', 'd', 'e', 'f', 0}, {}, {}});
    page.entries.push_back(Long(65000, {1, 2, 3, 4}));
    EXPECT_EQ(WidthOfPage(BuildTiff({page}), 0), 100u);
}

TEST(TiffReader, ShortReadsOfHeaderOrDirectoryFailThePage) {
    const auto document = BuildTiff({MarkerPage(100)});
    for (size_t size : {size_t{0}, size_t{5}, size_t{8}}) {
        std::vector<uint8_t> cut(document.begin(), document.begin() + static_cast<long>(size));
        EXPECT_EQ(WidthOfPage(cut, 0), 0u) << size;
    }
    // The directory is written last: cutting the file anywhere inside it loses the page.
    std::vector<uint8_t> cut(document.begin(), document.end() - 3);
    EXPECT_EQ(WidthOfPage(cut, 0), 0u);
    // A first directory offset past the end, or 0.
    std::vector<uint8_t> nowhere = document;
    nowhere[4] = nowhere[5] = nowhere[6] = nowhere[7] = 0xF0;
    EXPECT_EQ(WidthOfPage(nowhere, 0), 0u);
    nowhere[4] = nowhere[5] = nowhere[6] = nowhere[7] = 0;
    EXPECT_EQ(WidthOfPage(nowhere, 0), 0u);
}

TEST(TiffReader, CountsThatClaimMoreThanTheFileHoldsFailThePage) {
    // A StripOffsets array of a billion LONGs: refused from the file's size, not allocated.
    for (uint32_t count : {0x40000000u, 0xFFFFFFFFu, 3u}) {
        TiffPage page = MarkerPage(100);
        page.strips.clear();
        TiffEntry offsets = Long(273, {8, 8});
        offsets.count = count;
        offsets.rawField = count == 3 ? 0xFFFFFFF0u : 8u;   // 3: the array itself lies past the end
        page.entries.push_back(offsets);
        page.entries.push_back(Long(279, {2}));
        EXPECT_EQ(WidthOfPage(BuildTiff({page}), 0), 0u) << count;
    }
    // A rational out of the file.
    TiffPage page = MarkerPage(100);
    page.entries.push_back(TiffEntry{283, 5, {200, 1}, {}, 0x7FFFFFF0u});
    EXPECT_EQ(WidthOfPage(BuildTiff({page}), 0), 0u);
}

TEST(TiffReader, DirectoryChainsThatLoopEnd) {
    // Page A points at B and B back at A: pages 0 and 1 are found, page 2 is not, and the search
    // ends instead of going round for ever.
    std::vector<uint8_t> document = BuildTiff({MarkerPage(100), MarkerPage(200)});
    MemoryFile file{document};
    uint32_t first = 0;
    ASSERT_EQ(ReadTiffHeader(MemoryRead, MemorySeek, &file, first), 1);
    const uint16_t entries = static_cast<uint16_t>(document[first] | document[first + 1] << 8);
    const size_t firstNext = first + 2 + 12u * entries;
    uint32_t second = 0;
    std::memcpy(&second, document.data() + firstNext, 4);
    const uint16_t secondEntries = static_cast<uint16_t>(document[second] | document[second + 1] << 8);
    const size_t secondNext = second + 2 + 12u * secondEntries;
    std::memcpy(document.data() + secondNext, &first, 4);
    EXPECT_EQ(WidthOfPage(document, 0), 100u);
    EXPECT_EQ(WidthOfPage(document, 1), 200u);
    EXPECT_EQ(WidthOfPage(document, 2), 0u);
    EXPECT_EQ(WidthOfPage(document, 60000), 0u);

    // A directory that is its own successor.
    std::vector<uint8_t> self = BuildTiff({MarkerPage(100)});
    std::memcpy(&first, self.data() + 4, 4);
    const uint16_t n = static_cast<uint16_t>(self[first] | self[first + 1] << 8);
    std::memcpy(self.data() + first + 2 + 12u * n, &first, 4);
    MemoryFile loop{self};
    PageInfo info;
    EXPECT_EQ(ReadTiffPageInfo(MemoryRead, MemorySeek, &loop, 5, info), 0);
    EXPECT_LT(loop.reads, 20000u);
}

TEST(TiffReader, DirectoryFieldsKeepTheirValuesInHostOrder) {
    for (bool bigEndian : {false, true}) {
        TiffPage page = MarkerPage(1234);
        page.entries.push_back(Short(266, {2}));
        page.entries.push_back(Short(297, {7, 9}));
        page.entries.push_back(Short(559, {11, 22, 33}));
        page.entries.push_back(Long(292, {0x01020304}));
        const auto document = BuildTiff({page}, bigEndian);
        MemoryFile file{document};
        uint32_t first = 0;
        ASSERT_EQ(ReadTiffHeader(MemoryRead, MemorySeek, &file, first), 1);
        MemorySeek(&file, first, 0);
        TiffDirectory* directory = ReadTiffDirectory(MemoryRead, MemorySeek, &file);
        ASSERT_NE(directory, nullptr);
        const TiffField* f = directory->fields;
        EXPECT_EQ(TiffFieldValue(f[SlotImageWidth], 0), 1234u);
        EXPECT_EQ(TiffFieldValue(f[SlotFillOrder], 0), 2u);
        EXPECT_EQ(f[SlotPageNumber].elementSize, 2);
        EXPECT_EQ(TiffFieldValue(f[SlotPageNumber], 0), 7u);
        EXPECT_EQ(TiffFieldValue(f[SlotPageNumber], 1), 9u);
        EXPECT_EQ(TiffFieldValue(f[SlotStripRowCounts], 2), 33u);
        EXPECT_EQ(TiffFieldValue(f[SlotStripRowCounts], 3), 0u);   // past the count
        EXPECT_EQ(TiffFieldValue(f[SlotT4Options], 0), 0x01020304u);
        EXPECT_EQ(TiffFieldValue(f[SlotXResolution], 0), 200u);
        EXPECT_EQ(TiffFieldValue(f[SlotXResolution], 1), 1u);
        // Slots the file leaves out keep their defaults.
        EXPECT_EQ(TiffFieldValue(f[SlotT6Options], 0), 0xFFFFFFFFu);
        EXPECT_EQ(TiffFieldValue(f[SlotOrientation], 0), 1u);
        EXPECT_EQ(f[SlotPhotometric].count, 1u);
        EXPECT_EQ(TiffFieldValue(f[SlotPhotometric], 0), 0xFFFFu);
        FreeTiffDirectory(directory);
    }
}

TEST(TiffReader, PageInfoDescribesThePageWithoutDecodingIt) {
    TiffPage page;
    page.entries = {Long(256, {1728}), Long(257, {2200}), Short(259, {4}), Rational(282, 77, 1),
                    Rational(283, 154, 2), Short(296, {3})};
    page.strips = {{0xFF}};
    MemoryFile file{BuildTiff({MarkerPage(10), page})};
    PageInfo info;
    ASSERT_EQ(ReadTiffPageInfo(MemoryRead, MemorySeek, &file, 1, info), 1);
    EXPECT_EQ(info.width, 1728);
    EXPECT_EQ(info.height, 2200);
    EXPECT_EQ(info.xResolution, 195);
    EXPECT_EQ(info.yResolution, 195);
}

}  // namespace
