// A raw fax strip through the decoder. The first five bytes choose how the strip is decoded:
//   0: bits 0-1 mode (T.4 one-dimensional, T.6, T.4 two-dimensional, an unknown mode value),
//      bit 2 FillOrder 2, bits 3-4 background byte, bits 5-7 row stride kind
//   1-2: width in pixels (little-endian, modulo 7424: a little past the widest row)
//   3: rows - 1 (at most 64 KiB of rows)
//   4: bit 0 declares one byte more than the strip holds, bit 1 declares 4 KiB more
// The rest is the strip. Whatever the strip holds, every row must arrive, whole, with nothing
// past the width painted, and nothing read past the declared byte count.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "imaging/fax_decoder.h"

namespace {

struct Strip {
    const uint8_t* data;
    size_t size;
    size_t pos;
    uint64_t declared;
    uint64_t requested;
};

uint32_t ReadStrip(void* file, void* buffer, uint32_t count) {
    auto* strip = static_cast<Strip*>(file);
    strip->requested += count;
    if (strip->requested > strip->declared) __builtin_trap();
    size_t n = strip->size - strip->pos;
    if (n > count) n = count;
    std::memcpy(buffer, strip->data + strip->pos, n);
    strip->pos += n;
    return static_cast<uint32_t>(n);
}

struct Rows {
    uint32_t width;
    uint32_t bytesPerRow;
    uint8_t background;
    bool decodable;
    uint64_t delivered;
};

// Background from byte `from` to byte `to` of a row.
void CheckBackground(const uint8_t* row, uint32_t from, uint32_t to, uint8_t background) {
    for (uint32_t i = from; i < to; ++i) {
        if (row[i] != background) __builtin_trap();
    }
}

void CheckRows(void* context, const uint8_t* bytes, uint32_t count) {
    auto* rows = static_cast<Rows*>(context);
    if (count % rows->bytesPerRow != 0) __builtin_trap();
    rows->delivered += count;
    const uint32_t used = rows->decodable ? (rows->width + 7) / 8 : 0;
    const uint32_t stride = rows->bytesPerRow;
    for (uint32_t start = 0; start < count; start += stride) {
        const uint8_t* row = bytes + start;
        // Wide strides: the bytes next to the row's pixels and the row's end tell enough.
        if (stride - used > 128) {
            CheckBackground(row, used, used + 64, rows->background);
            CheckBackground(row, stride - 64, stride, rows->background);
        } else {
            CheckBackground(row, used, stride, rows->background);
        }
        if (rows->decodable && rows->width % 8 != 0) {
            const uint8_t pad = static_cast<uint8_t>(0xFF >> (rows->width % 8));
            if (((row[used - 1] ^ rows->background) & pad) != 0) __builtin_trap();
        }
    }
}

uint32_t StrideOf(uint32_t kind, uint32_t width) {
    const uint32_t needed = (width + 7) / 8;
    switch (kind) {
    case 4: return needed;
    case 5: return needed / 2;
    case 6: return needed + 0x1000;   // far past the row's pixels
    case 7: return 0;
    default: return (width + 31) / 32 * 4;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    static const int16_t modes[] = {FaxModeT4OneD, FaxModeT6, FaxModeT4TwoD, 2};
    static const uint8_t backgrounds[] = {0x00, 0xFF, 0x5A, 0xFF};
    const int16_t mode = modes[data[0] & 3];
    const uint16_t fillOrder = (data[0] & 4) ? 2 : 1;
    const uint8_t background = backgrounds[(data[0] >> 3) & 3];
    const uint32_t width = (data[1] | data[2] << 8) % 7424;
    const uint32_t bytesPerRow = StrideOf(data[0] >> 5, width);
    // At most 64 KiB of rows, so that thousands of inputs run a second. Rows past a chunk (a
    // mebibyte of fresh memory, some milliseconds here) are left to the decoder's tests.
    const uint32_t rows = std::min(data[3] + 1u, std::max(1u, 0x10000 / std::max(bytesPerRow, 1u)));

    Strip strip{data + 5, size - 5, 0, size - 5, 0};
    if (data[4] & 1) strip.declared += 1;
    if (data[4] & 2) strip.declared += 0x1000;

    Rows out{width, bytesPerRow, background, width <= FaxMaxWidth && (width + 7) / 8 <= bytesPerRow, 0};
    FaxDecoder decoder;
    InitFaxDecoder(decoder, width, bytesPerRow, static_cast<uint32_t>(strip.declared), fillOrder, mode,
                   background, ReadStrip, &strip, CheckRows, &out);
    DecodeFaxRows(decoder, rows);
    ReleaseFaxDecoder(decoder);
    if (out.delivered != static_cast<uint64_t>(rows) * bytesPerRow) __builtin_trap();
    return 0;
}
