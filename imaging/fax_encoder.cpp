#include "imaging/fax_encoder.h"

#include <bit>
#include <cstdlib>
#include <cstring>

#include "imaging/fax_code_tables.h"

namespace {

constexpr uint32_t OutputBufferBytes = 64 * 1024;

// Code bits, most significant first, gathered into bytes and handed to the write operation a
// buffer at a time.
struct BitWriter {
    uint8_t* buffer = nullptr;
    uint32_t used = 0;
    uint32_t pending = 0;   // bits not yet a whole byte, in the low pendingBits bits
    int pendingBits = 0;
    uint64_t written = 0;
    bool failed = false;
    WriteOp write = nullptr;
    void* file = nullptr;
};

// After a failed write the rest is dropped: the caller gets 0 anyway.
void Flush(BitWriter& out)
{
    if (out.used > 0 && !out.failed && out.write(out.file, out.buffer, out.used) != out.used)
        out.failed = true;
    out.written += out.used;
    out.used = 0;
}

void Put(BitWriter& out, FaxCodeWord word)
{
    out.pending = out.pending << word.length | word.bits;
    out.pendingBits += word.length;
    while (out.pendingBits >= 8) {
        out.pendingBits -= 8;
        out.buffer[out.used++] = static_cast<uint8_t>(out.pending >> out.pendingBits);
        if (out.used == OutputBufferBytes)
            Flush(out);
    }
    out.pending &= (1u << out.pendingBits) - 1;
}

// One run of a colour: make-up codes of 2560 while more than a make-up and a terminating code
// can say, then at most one make-up code and the terminating code.
void PutRun(BitWriter& out, uint32_t run, bool black)
{
    const auto& makeUp = black ? FaxBlackMakeUpWords : FaxWhiteMakeUpWords;
    const auto& terminating = black ? FaxBlackTerminatingWords : FaxWhiteTerminatingWords;
    while (run >= 2560 + 64) {
        Put(out, makeUp[2560 / 64 - 1]);
        run -= 2560;
    }
    if (run >= 64) {
        Put(out, makeUp[run / 64 - 1]);
        run %= 64;
    }
    Put(out, terminating[run]);
}

// The first pixel at or after from whose colour differs from colour (the byte of a row of that
// colour), or width when there is none. Bits before from in its byte count as the colour.
uint32_t FindChange(const uint8_t* row, uint32_t from, uint32_t width, uint8_t colour)
{
    if (from >= width)
        return width;
    uint32_t at = from / 8;
    const uint32_t bytes = (width + 7) / 8;
    uint8_t differ = static_cast<uint8_t>((row[at] ^ colour) & (0xFFu >> (from % 8)));
    while (differ == 0) {
        if (++at == bytes)
            return width;
        differ = row[at] ^ colour;
    }
    const uint32_t x = at * 8 + static_cast<uint32_t>(std::countl_zero(differ));
    return x < width ? x : width;
}

bool PixelIs(const uint8_t* row, uint32_t x, uint8_t colour)
{
    return ((row[x / 8] ^ colour) & (0x80u >> (x % 8))) == 0;
}

// One row coded two-dimensionally against the reference row. Until the first code a0 is the
// imaginary white pixel before the row (first); then a pixel of the row, of the current colour.
void EncodeRow(BitWriter& out, const uint8_t* reference, const uint8_t* row, uint32_t width, uint8_t white)
{
    const uint8_t black = static_cast<uint8_t>(~white);
    uint32_t a0 = 0;
    bool isBlack = false;
    bool first = true;
    while (true) {
        const uint8_t colour = isBlack ? black : white;
        const uint8_t other = isBlack ? white : black;
        const uint32_t a1 = FindChange(row, a0 + (first ? 0 : 1), width, colour);
        // b1: the first change to the other colour on the reference row right of a0.
        uint32_t from = first ? 0 : a0 + 1;
        if (!first && !PixelIs(reference, a0, colour))
            from = FindChange(reference, from, width, other);
        const uint32_t b1 = FindChange(reference, from, width, colour);
        const uint32_t b2 = FindChange(reference, b1, width, other);
        const uint32_t start = first ? 0 : a0;
        const int64_t offset = int64_t(a1) - int64_t(b1);
        if (b2 < a1) {
            Put(out, FaxPassWord);
            a0 = b2;
        } else if (offset >= -3 && offset <= 3) {
            Put(out, FaxVerticalWords[size_t(offset + 3)]);
            a0 = a1;
            isBlack = !isBlack;
        } else {
            const uint32_t a2 = FindChange(row, a1, width, other);
            Put(out, FaxHorizontalWord);
            PutRun(out, a1 - start, isBlack);
            PutRun(out, a2 - a1, !isBlack);
            a0 = a2;
        }
        first = false;
        if (a0 >= width)
            return;
    }
}

}  // namespace

uint64_t EncodeT6(const uint8_t* rows, uint32_t stride, uint32_t width, uint32_t height, uint8_t white,
                  WriteOp write, void* file)
{
    BitWriter out;
    out.write = write;
    out.file = file;
    out.buffer = static_cast<uint8_t*>(std::malloc(OutputBufferBytes));
    // The imaginary white row above the first.
    uint8_t* whiteRow = static_cast<uint8_t*>(std::malloc(stride ? stride : 1));
    if (!out.buffer || !whiteRow) {
        std::free(out.buffer);
        std::free(whiteRow);
        return 0;
    }
    std::memset(whiteRow, white, stride);
    const uint8_t* reference = whiteRow;
    for (uint32_t y = 0; y < height && !out.failed; ++y) {
        const uint8_t* row = rows + static_cast<size_t>(y) * stride;
        EncodeRow(out, reference, row, width, white);
        reference = row;
    }
    Put(out, FaxEolWord);
    Put(out, FaxEolWord);
    if (out.pendingBits > 0)
        Put(out, FaxCodeWord{0, static_cast<uint8_t>(8 - out.pendingBits)});
    Flush(out);
    std::free(out.buffer);
    std::free(whiteRow);
    return out.failed ? 0 : out.written;
}
