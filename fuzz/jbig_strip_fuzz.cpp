// A raw JBIG strip through DecodeJbigStrip. The page around it follows from the strip's own
// header where it has one (width and height, bounded), with the last byte choosing the
// PhotometricInterpretation and the background. Whatever the strip holds, the rows that arrive
// are whole, no more than the strip's row count, and nothing is read past the strip.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/jbig_decoder.h"

namespace {

struct Strip {
    const uint8_t* data;
    size_t size;
    uint64_t position;
};

uint32_t ReadStrip(void* file, void* buffer, uint32_t count) {
    auto* s = static_cast<Strip*>(file);
    if (s->position + count > s->size) __builtin_trap();   // the reader never asks past a strip
    std::memcpy(buffer, s->data + s->position, count);
    s->position += count;
    return count;
}

int64_t SeekStrip(void* file, uint32_t offset, int origin) {
    auto* s = static_cast<Strip*>(file);
    s->position = (origin == 2 ? s->size : origin == 1 ? s->position : 0) + offset;
    return static_cast<int64_t>(s->position);
}

struct Rows {
    uint32_t stride;
    uint32_t width;
    uint8_t background;
    uint64_t delivered;
};

void TakeRows(void* context, const uint8_t* bytes, uint32_t count) {
    auto* rows = static_cast<Rows*>(context);
    if (count % rows->stride != 0) __builtin_trap();
    // Past the page's width every bit is background.
    for (uint32_t r = 0; r < count / rows->stride; ++r) {
        const uint8_t* row = bytes + static_cast<size_t>(r) * rows->stride;
        for (uint32_t x = rows->width; x < rows->stride * 8; ++x) {
            const int bit = (row[x / 8] >> (7 - x % 8)) & 1;
            if (bit != ((rows->background >> (7 - x % 8)) & 1)) __builtin_trap();
        }
    }
    rows->delivered += count;
}

uint32_t BigEndian32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

PageDecodeContext Context;

// Pixels a strip's header may announce: the decode costs time per pixel, and larger planes teach
// little more. A header announcing more has its height cut to fit (all but the T.85 NEWLEN
// height, which is never decoded). Planes, layers and stripes are bounded the same way.
constexpr uint64_t MaxPlanePixels = 1u << 11;

void WriteBigEndian32(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value >> 24);
    p[1] = static_cast<uint8_t>(value >> 16);
    p[2] = static_cast<uint8_t>(value >> 8);
    p[3] = static_cast<uint8_t>(value);
}

std::vector<uint8_t> Input;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    if (size == 0) return 0;
    Input.assign(bytes, bytes + size);
    uint8_t* data = Input.data();
    if (size >= 20) {
        // Each plane of each layer has an arithmetic decoder of its own (4 KiB of contexts, set up
        // again at every stripe): at most four planes and four layers.
        if (data[2] > 4) data[2] = static_cast<uint8_t>(1 + data[2] % 4);
        if (data[1] > data[0] + 3) data[1] = static_cast<uint8_t>(data[0] + data[1] % 4);
        const uint32_t xd = BigEndian32(data + 4);
        if (xd > MaxPlanePixels) WriteBigEndian32(data + 4, MaxPlanePixels);
        const uint64_t columns = std::max<uint32_t>(1, std::min<uint64_t>(xd, MaxPlanePixels));
        // Every stripe starts the arithmetic decoder afresh: at most 16 stripes of the L0 rows.
        const uint64_t stripeRows = BigEndian32(data + 12);
        const uint64_t rows = std::min<uint64_t>(MaxPlanePixels / columns, std::max<uint64_t>(1, stripeRows * 16));
        if (BigEndian32(data + 8) != 0xFFFFFFFF && BigEndian32(data + 8) > rows) {
            WriteBigEndian32(data + 8, static_cast<uint32_t>(rows));
        }
    }
    uint32_t width = 64;
    uint32_t rows = 16;
    if (size >= 20) {
        // Near the strip's own size, so that the plane is delivered, cut or padded.
        const uint32_t xd = BigEndian32(data + 4);
        const uint32_t yd = BigEndian32(data + 8);
        width = xd >= 1 && xd <= 4096 ? xd + (data[size - 1] & 0x10 ? 7 : 0) : 64;
        rows = yd >= 1 && yd <= 2048 ? yd - (data[size - 1] & 0x20 ? yd / 2 : 0) : 16;
    }
    const uint8_t selector = data[size - 1];
    Strip strip{data, size, 0};
    Rows delivered{(width + 31) / 32 * 4, width, static_cast<uint8_t>(selector & 1 ? 0x00 : 0xFF), 0};

    Context = PageDecodeContext{};
    Context.mode = DecodeModeJbig;
    Context.width = width;
    Context.height = rows;
    Context.bytesPerRow = delivered.stride;
    Context.photometric = selector & 2 ? 1 : selector & 4 ? 0xFFFF : 0;
    Context.background = delivered.background;
    Context.read = ReadStrip;
    Context.seek = SeekStrip;
    Context.file = &strip;
    Context.fileSize = static_cast<uint32_t>(size);
    Context.sink = TakeRows;
    Context.sinkContext = &delivered;
    DecodeJbigStrip(Context, static_cast<uint32_t>(size), rows);
    if (delivered.delivered > static_cast<uint64_t>(rows) * delivered.stride) __builtin_trap();
    return 0;
}
