// What the page decoding tests share: a document held in memory behind the reader's read and
// seek operations, a sink that keeps every row, JBIG strips coded by JBIG-KIT's encoder, and
// PBM pages as rows of the page's layout.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "imaging/tiff_reader.h"

struct MemoryFile {
    std::vector<uint8_t> bytes;
    uint64_t position = 0;
    uint32_t reads = 0;
};

inline uint32_t MemoryRead(void* file, void* buffer, uint32_t count) {
    auto* f = static_cast<MemoryFile*>(file);
    ++f->reads;
    if (f->position >= f->bytes.size()) return 0;
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(count, f->bytes.size() - f->position));
    std::memcpy(buffer, f->bytes.data() + f->position, n);
    f->position += n;
    return n;
}

inline int64_t MemorySeek(void* file, uint32_t offset, int origin) {
    auto* f = static_cast<MemoryFile*>(file);
    const uint64_t base = origin == 2 ? f->bytes.size() : origin == 1 ? f->position : 0;
    f->position = base + offset;
    return static_cast<int64_t>(f->position);
}

inline void KeepRows(void* context, const uint8_t* bytes, uint32_t count) {
    auto* rows = static_cast<std::vector<uint8_t>*>(context);
    rows->insert(rows->end(), bytes, bytes + count);
}

// A decoded page: the rows the sink received and what the context said about them.
struct DecodedPage {
    bool opened = false;
    DecodeMode mode = DecodeModeUnsupported;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t stride = 0;
    std::vector<uint8_t> rows;

    uint32_t RowsDelivered() const { return stride ? static_cast<uint32_t>(rows.size() / stride) : 0; }
    const uint8_t* Row(uint32_t y) const { return rows.data() + static_cast<size_t>(y) * stride; }
};

inline DecodedPage DecodePage(const std::vector<uint8_t>& document, uint32_t pageIndex,
                              uint8_t background = 0xFF) {
    MemoryFile file{document};
    static PageDecodeContext context;   // large: keep it off the test's stack
    DecodedPage page;
    page.opened = OpenTiffPage(context, MemoryRead, MemorySeek, &file, KeepRows, &page.rows,
                               pageIndex, background) == 1;
    if (!page.opened) return page;
    page.mode = context.mode;
    page.width = context.width;
    page.height = context.height;
    page.stride = context.bytesPerRow;
    DecodeTiffPage(context);
    CloseTiffPage(context);
    return page;
}

inline std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return {};
    std::vector<uint8_t> bytes(static_cast<size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

// A bilevel image as JBIG planes have it: rows of ceil(width / 8) bytes, 1 = black.
struct Bitmap {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> bits;

    uint32_t RowBytes() const { return (width + 7) / 8; }
    uint8_t* Row(uint32_t y) { return bits.data() + static_cast<size_t>(y) * RowBytes(); }
    const uint8_t* Row(uint32_t y) const { return bits.data() + static_cast<size_t>(y) * RowBytes(); }
    bool Black(uint32_t x, uint32_t y) const { return (Row(y)[x / 8] >> (7 - x % 8)) & 1; }
    void SetBlack(uint32_t x, uint32_t y) { Row(y)[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8)); }
};

inline Bitmap MakeBitmap(uint32_t width, uint32_t height) {
    Bitmap b{width, height, {}};
    b.bits.assign(static_cast<size_t>(b.RowBytes()) * height, 0);
    return b;
}

// A bitmap with something different on every row: a diagonal and a row-number pattern.
inline Bitmap PatternBitmap(uint32_t width, uint32_t height, uint32_t seed = 0) {
    Bitmap b = MakeBitmap(width, height);
    for (uint32_t y = 0; y < height; ++y) {
        b.SetBlack((y + seed) % width, y);
        for (uint32_t bit = 0; bit < 12 && bit < width; ++bit) {
            if (((y + seed * 7) >> bit) & 1) b.SetBlack(width - 1 - bit, y);
        }
    }
    return b;
}

// PBM (P4) pages as the reference tools write them.
inline Bitmap ReadPbm(const std::string& path) {
    const std::vector<uint8_t> data = ReadWholeFile(path);
    size_t pos = 0;
    auto token = [&]() {
        std::string t;
        while (pos < data.size()) {
            const char c = static_cast<char>(data[pos]);
            if (c == '#') {
                while (pos < data.size() && data[pos] != '\n') ++pos;
            } else if (c == ' ' || c == '\n' || c == '\r' || c == '\t') {
                if (!t.empty()) break;
                ++pos;
            } else {
                t += c;
                ++pos;
            }
        }
        return t;
    };
    Bitmap b;
    if (token() != "P4") return b;
    b.width = static_cast<uint32_t>(std::stoul(token()));
    b.height = static_cast<uint32_t>(std::stoul(token()));
    ++pos;   // the single whitespace before the raster
    const size_t size = static_cast<size_t>(b.RowBytes()) * b.height;
    if (data.size() >= pos + size) b.bits.assign(data.begin() + static_cast<long>(pos), data.begin() + static_cast<long>(pos + size));
    return b;
}

// Whether row y of a decoded page (white = 1) shows row y of the bitmap, pixel for pixel.
inline bool RowShows(const DecodedPage& page, uint32_t y, const Bitmap& bitmap, uint32_t bitmapRow) {
    const uint8_t* row = page.Row(y);
    const uint8_t* expected = bitmap.Row(bitmapRow);
    const uint32_t whole = bitmap.width / 8;
    for (uint32_t b = 0; b < whole; ++b) {
        if (row[b] != static_cast<uint8_t>(~expected[b])) return false;
    }
    for (uint32_t x = whole * 8; x < bitmap.width; ++x) {
        const bool white = (row[x / 8] >> (7 - x % 8)) & 1;
        if (white == bitmap.Black(x, bitmapRow)) return false;
    }
    return true;
}

inline bool RowIsWhite(const DecodedPage& page, uint32_t y) {
    const uint8_t* row = page.Row(y);
    const uint32_t whole = page.width / 8;
    for (uint32_t b = 0; b < whole; ++b) {
        if (row[b] != 0xFF) return false;
    }
    for (uint32_t x = whole * 8; x < page.width; ++x) {
        if (!((row[x / 8] >> (7 - x % 8)) & 1)) return false;
    }
    return true;
}

// The first row of the page that does not show the bitmap, or the bitmap's height.
inline uint32_t FirstDifferentRow(const DecodedPage& page, const Bitmap& bitmap) {
    for (uint32_t y = 0; y < bitmap.height; ++y) {
        if (y >= page.RowsDelivered() || !RowShows(page, y, bitmap, y)) return y;
    }
    return bitmap.height;
}

extern "C" {
#include <jbig.h>
}

inline void AppendJbigBytes(unsigned char* start, size_t length, void* file) {
    auto* out = static_cast<std::vector<uint8_t>*>(file);
    out->insert(out->end(), start, start + length);
}

enum class JbigCoding {
    Library,      // JBIG-KIT's defaults: stripes interleaved (ILEAVE, SMID)
    FaxProfile,   // the ITU-T T.85 profile fax machines use: order 0, 128-line stripes
};

// A complete JBIG image (one bi-level image entity) coded by JBIG-KIT.
inline std::vector<uint8_t> EncodeJbig(const Bitmap& bitmap, int layers = 0,
                                       JbigCoding coding = JbigCoding::Library) {
    std::vector<uint8_t> out;
    std::vector<uint8_t> plane = bitmap.bits;
    unsigned char* planes[1] = {plane.data()};
    jbg_enc_state state;
    jbg_enc_init(&state, bitmap.width, bitmap.height, 1, planes, AppendJbigBytes, &out);
    jbg_enc_layers(&state, layers);
    if (coding == JbigCoding::FaxProfile) jbg_enc_options(&state, 0, JBG_TPBON, 128, 127, 0);
    jbg_enc_out(&state);
    jbg_enc_free(&state);
    return out;
}
