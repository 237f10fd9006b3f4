#include "imaging/fax_decoder.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "imaging/fax_code_tables.h"

namespace {

// Results between the decoder's steps; a run length or 0 means success.
constexpr int FaxInvalid = -4;    // invalid code, or a run or position past the row's end
constexpr int FaxEolMet = -5;
constexpr int FaxExhausted = -6;

constexpr uint32_t MaxBytesPerRead = 0x100000;  // 0x80000 words per call of the read operation
constexpr uint32_t MaxChunkBytes = 0x100000;   // rows go to the sink in chunks of at most 1 MiB
// A run longer than any row is invalid anyway; the cap keeps a long chain of make-up codes from
// overflowing the sum.
constexpr int RunCap = 1 << 24;

// The rows fit the reference row and the stride: otherwise the page cannot be decoded and every
// row stays background.
bool RowsFit(const FaxDecoder& d) {
    return d.width <= FaxMaxWidth && (d.width + 7) / 8 <= d.bytesPerRow;
}

// Bytes of a row that can differ from background.
uint32_t UsedRowBytes(const FaxDecoder& d) {
    return std::min(d.bytesPerRow, FaxMaxRowBytes);
}

void EndInput(FaxDecoder& d) {
    d.bytesToRead = 0;
    d.bytesInBuffer = 0;
    d.bitBuffer = 0;
    d.bitCount = 0;
}

// Reads the next piece of the strip. Bytes are put into transmission order (first bit lowest)
// once here, so that taking bits is a plain load.
void ReadInput(FaxDecoder& d) {
    const uint32_t wanted = std::min(d.bytesToRead, MaxBytesPerRead);
    uint32_t got = d.read(d.file, d.input, wanted);
    if (got > wanted) got = wanted;
    // A short read means the file ended early (or failed): nothing more is asked of it.
    d.bytesToRead = got < wanted ? 0 : d.bytesToRead - wanted;
    if (d.fillOrder != 2) {
        for (uint32_t i = 0; i < got; ++i) d.input[i] = FaxReversedBits[d.input[i]];
    }
    d.bytesInBuffer = got;
    d.inputPos = 0;
}

// Makes at least 16 bits available while input lasts, taking a 16-bit word at a time (an odd
// last byte of the strip alone). Returns false when no bit is left: past the input's end the
// buffer reads as zeros above the remaining bits.
inline bool Refill(FaxDecoder& d) {
    if (d.bitCount >= 16) return true;
    if (d.bytesInBuffer == 0) {
        if (d.bytesToRead > 0) ReadInput(d);
        if (d.bytesInBuffer == 0) return d.bitCount > 0;
    }
    const uint8_t* bytes = d.input + d.inputPos;
    if (d.bytesInBuffer >= 2) {
        d.bitBuffer |= static_cast<uint32_t>(bytes[0] | bytes[1] << 8) << d.bitCount;
        d.bitCount += 16;
        d.inputPos += 2;
        d.bytesInBuffer -= 2;
    } else {
        d.bitBuffer |= static_cast<uint32_t>(bytes[0]) << d.bitCount;
        d.bitCount += 8;
        d.inputPos += 1;
        d.bytesInBuffer = 0;
    }
    return true;
}

inline void Consume(FaxDecoder& d, int bits) {
    d.bitBuffer >>= bits;
    d.bitCount -= bits;
}

// Fill zeros before an EOL: skips zeros up to the EOL's closing 1-bit.
int SkipFill(FaxDecoder& d) {
    for (;;) {
        if (!Refill(d)) return FaxExhausted;
        const uint32_t low = d.bitBuffer & 0xFF;
        if (low == 0) {
            Consume(d, 8);
            continue;
        }
        Consume(d, std::countr_zero(low) + 1);
        return FaxEolMet;
    }
}

template <bool White>
inline FaxCode LookUpRunCode(uint32_t bits) {
    if constexpr (White) {
        const FaxCode code = FaxWhiteCodes[bits & 0x1FF];
        if (code.kind != FaxCodeSecondTable) return code;
        return FaxWhiteLongCodes[(bits >> FaxWhitePrefixBits) & 0x1F];
    } else {
        const FaxCode code = FaxBlackCodes[bits & 0xFF];
        if (code.kind != FaxCodeSecondTable) return code;
        return FaxBlackLongCodes[(bits >> FaxBlackPrefixBits) & 0x1FF];
    }
}

// One run of a colour: make-up codes and the terminating code that ends them.
template <bool White>
int DecodeRun(FaxDecoder& d) {
    int total = 0;
    for (;;) {
        if (!Refill(d)) return FaxExhausted;
        const FaxCode code = LookUpRunCode<White>(d.bitBuffer);
        if (code.kind == FaxCodeInvalid) return FaxInvalid;
        Consume(d, code.length);
        // The code reached past the input's end: it was never sent.
        if (d.bitCount < 0) return FaxExhausted;
        switch (code.kind) {
        case FaxCodeTerminating:
            return total + code.value;
        case FaxCodeMakeUp:
            total = std::min(total + code.value, RunCap);
            break;
        case FaxCodeEol:
            return FaxEolMet;
        default:
            return SkipFill(d);
        }
    }
}

// Paints pixels start to start + length - 1 black; the row there is still background.
inline void PaintBlack(uint8_t* row, uint32_t start, uint32_t length, uint8_t black) {
    if (length == 0) return;
    const uint32_t end = start + length - 1;
    uint8_t* first = row + (start >> 3);
    uint8_t* last = row + (end >> 3);
    const uint8_t head = static_cast<uint8_t>(0xFF >> (start & 7));
    const uint8_t tail = static_cast<uint8_t>(0xFF00 >> ((end & 7) + 1));
    if (first == last) {
        *first ^= head & tail;
        return;
    }
    *first ^= head;
    if (last - first > 1) std::memset(first + 1, black, static_cast<size_t>(last - first - 1));
    *last ^= tail;
}

inline uint64_t LoadBigEndian(const uint8_t* bytes) {
    uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
    return word;
}

// Eight bytes of a line from byte on, padded with the colour past the bytes the width covers.
inline uint64_t LoadLineWord(const uint8_t* line, uint32_t byte, uint32_t endByte, uint64_t colours) {
    if (byte + 8 <= endByte) return LoadBigEndian(line + byte);
    uint8_t bytes[8];
    std::memcpy(bytes, &colours, sizeof bytes);
    std::memcpy(bytes, line + byte, endByte - byte);
    return LoadBigEndian(bytes);
}

// The search past the first eight bytes.
uint32_t FindChangeFurther(const uint8_t* line, uint32_t byte, uint32_t endByte, uint64_t colours,
                           uint32_t width) {
    for (; byte < endByte; byte += 8) {
        const uint64_t diff = LoadLineWord(line, byte, endByte, colours) ^ colours;
        if (diff != 0) return std::min(byte * 8 + static_cast<uint32_t>(std::countl_zero(diff)), width);
    }
    return width;
}

// The first pixel at or after pos whose colour differs from colour, or the width. Changes are
// mostly near pos: the first eight bytes are looked at here, the rest in a loop of its own.
inline uint32_t FindChange(const uint8_t* line, uint32_t pos, uint8_t colour, uint32_t width) {
    if (pos >= width) return width;
    const uint32_t endByte = (width + 7) / 8;
    const uint64_t colours = 0x0101010101010101ull * colour;
    const uint32_t byte = pos / 8;
    const uint64_t diff = (LoadLineWord(line, byte, endByte, colours) ^ colours) & (~0ull >> (pos & 7));
    if (diff != 0) return std::min(byte * 8 + static_cast<uint32_t>(std::countl_zero(diff)), width);
    return FindChangeFurther(line, byte + 8, endByte, colours, width);
}

int DecodeOneDimensionalRow(FaxDecoder& d, uint8_t* row) {
    const uint32_t width = d.width;
    const uint8_t black = static_cast<uint8_t>(~d.background);
    uint32_t a0 = 0;
    while (a0 < width) {
        const int white = DecodeRun<true>(d);
        if (white < 0) return white;
        if (static_cast<uint32_t>(white) > width - a0) return FaxInvalid;
        a0 += white;
        if (a0 >= width) break;
        const int run = DecodeRun<false>(d);
        if (run < 0) return run;
        if (static_cast<uint32_t>(run) > width - a0) return FaxInvalid;
        PaintBlack(row, a0, run, black);
        a0 += run;
    }
    return 0;
}

// Horizontal mode: a run of the current colour, then one of the other colour.
int DecodeHorizontal(FaxDecoder& d, uint8_t* row, uint32_t& a0, bool white) {
    const int first = white ? DecodeRun<true>(d) : DecodeRun<false>(d);
    if (first < 0) return FaxInvalid;
    const int second = white ? DecodeRun<false>(d) : DecodeRun<true>(d);
    if (second < 0) return FaxInvalid;
    if (static_cast<uint32_t>(first) + static_cast<uint32_t>(second) > d.width - a0) return FaxInvalid;
    const uint8_t black = static_cast<uint8_t>(~d.background);
    if (white) {
        PaintBlack(row, a0 + first, second, black);
    } else {
        PaintBlack(row, a0, first, black);
    }
    a0 += first + second;
    return 0;
}

int DecodeTwoDimensionalRow(FaxDecoder& d, const uint8_t* reference, uint8_t* row) {
    const uint32_t width = d.width;
    const uint8_t black = static_cast<uint8_t>(~d.background);
    uint32_t a0 = 0;
    bool white = true;
    while (a0 < width) {
        if (!Refill(d)) return FaxExhausted;
        const FaxCode mode = FaxModeCodes[d.bitBuffer & 0x7F];
        if (mode.kind == FaxCodeInvalid) return FaxInvalid;
        Consume(d, mode.length);
        if (d.bitCount < 0) return FaxExhausted;
        if (mode.kind == FaxModeHorizontal) {
            if (DecodeHorizontal(d, row, a0, white) < 0) return FaxInvalid;
            continue;
        }
        // b1: the first changing element of the reference row past a0 whose colour is the
        // opposite of the current one; at the row's start it may lie on a0 itself.
        const uint8_t colour = white ? d.background : black;
        const uint8_t opposite = static_cast<uint8_t>(~colour);
        uint32_t b1 = FindChange(reference, a0, colour, width);
        if (b1 == a0 && !(a0 == 0 && white)) {
            b1 = FindChange(reference, b1, opposite, width);
            b1 = FindChange(reference, b1, colour, width);
        }
        if (mode.kind == FaxModePass) {
            const uint32_t b2 = FindChange(reference, b1, opposite, width);
            if (!white) PaintBlack(row, a0, b2 - a0, black);
            a0 = b2;
            continue;
        }
        const int64_t a1 = static_cast<int64_t>(b1) + mode.value;
        if (a1 > width || a1 < a0) return FaxInvalid;
        if (!white) PaintBlack(row, a0, static_cast<uint32_t>(a1) - a0, black);
        a0 = static_cast<uint32_t>(a1);
        white = !white;
    }
    return 0;
}

// After an invalid code: looks for the next EOL (eleven zeros) and leaves it unread, so that the
// next row starts with it.
bool FindNextEol(FaxDecoder& d) {
    for (;;) {
        if (!Refill(d)) return false;
        const uint32_t low = d.bitBuffer & 0xFF;
        if (low != 0) {
            Consume(d, std::countr_zero(low) + 1);
            continue;
        }
        const uint32_t next = (d.bitBuffer >> 8) & 7;
        if (next == 0) return true;
        Consume(d, 8 + std::countr_zero(next) + 1);
    }
}

const uint8_t* RowAbove(const FaxDecoder& d, const uint8_t* chunk, uint32_t row) {
    return row == 0 ? d.referenceRow : chunk + static_cast<size_t>(row - 1) * d.bytesPerRow;
}

// A T.4 row after its EOL: one-dimensional, or with a tag bit choosing the coding.
int DecodeT4Row(FaxDecoder& d, const uint8_t* above, uint8_t* row, bool tagged) {
    if (!tagged) return DecodeOneDimensionalRow(d, row);
    if (!Refill(d)) return FaxExhausted;
    const bool oneDimensional = (d.bitBuffer & 1) != 0;
    Consume(d, 1);
    return oneDimensional ? DecodeOneDimensionalRow(d, row) : DecodeTwoDimensionalRow(d, above, row);
}

// T.4 page loop: every row begins with an EOL. A bad row is replaced by the row above once the
// next EOL is found; an EOL where a run belongs (the return-to-control sequence), exhausted input
// or no further EOL ends the chunk. Returns true when the chunk was gone through.
bool DecodeT4Chunk(FaxDecoder& d, uint8_t* chunk, uint32_t rows, bool tagged) {
    for (uint32_t i = 0; i < rows; ++i) {
        uint8_t* row = chunk + static_cast<size_t>(i) * d.bytesPerRow;
        const uint8_t* above = RowAbove(d, chunk, i);
        // The EOL is read with the tables of colour byte 0.
        int result = d.background == 0 ? DecodeRun<true>(d) : DecodeRun<false>(d);
        if (result >= 0) continue;  // a run where the EOL belongs: the row stays background
        if (result == FaxEolMet) result = DecodeT4Row(d, above, row, tagged);
        if (result == FaxExhausted || result == FaxEolMet) return false;
        if (result == FaxInvalid) {
            if (!FindNextEol(d)) return false;
            std::memcpy(row, above, UsedRowBytes(d));
        }
    }
    return true;
}

// T.6 page loop: no EOLs, so no resynchronisation; any error ends the chunk.
bool DecodeT6Chunk(FaxDecoder& d, uint8_t* chunk, uint32_t rows) {
    for (uint32_t i = 0; i < rows; ++i) {
        uint8_t* row = chunk + static_cast<size_t>(i) * d.bytesPerRow;
        if (DecodeTwoDimensionalRow(d, RowAbove(d, chunk, i), row) < 0) return false;
    }
    return true;
}

void KeepLastRow(FaxDecoder& d, const uint8_t* chunk, uint32_t rows) {
    std::memcpy(d.referenceRow, chunk + static_cast<size_t>(rows - 1) * d.bytesPerRow, UsedRowBytes(d));
}

void Deliver(FaxDecoder& d, const uint8_t* bytes, uint32_t count) {
    if (d.sink != nullptr) d.sink(d.sinkContext, bytes, count);
}

// Without memory for a chunk the rows still go out, white, one at a time.
void DeliverWhiteRows(FaxDecoder& d, uint32_t rows) {
    uint8_t* row = static_cast<uint8_t*>(std::malloc(d.bytesPerRow));
    if (row == nullptr) return;
    std::memset(row, d.background, d.bytesPerRow);
    for (uint32_t i = 0; i < rows; ++i) Deliver(d, row, d.bytesPerRow);
    std::free(row);
}

void DecodeChunk(FaxDecoder& d, uint32_t rows) {
    const size_t bytes = static_cast<size_t>(rows) * d.bytesPerRow;
    uint8_t* chunk = static_cast<uint8_t*>(std::malloc(bytes));
    if (chunk == nullptr) {
        EndInput(d);
        DeliverWhiteRows(d, rows);
        return;
    }
    std::memset(chunk, d.background, bytes);
    if (RowsFit(d)) {
        if (d.mode == FaxModeT4OneD) {
            DecodeT4Chunk(d, chunk, rows, false);  // keeps no reference row
        } else if (d.mode == FaxModeT4TwoD) {
            if (DecodeT4Chunk(d, chunk, rows, true)) KeepLastRow(d, chunk, rows);
        } else {
            if (DecodeT6Chunk(d, chunk, rows)) KeepLastRow(d, chunk, rows);
        }
    }
    Deliver(d, chunk, static_cast<uint32_t>(bytes));
    std::free(chunk);
}

}  // namespace

void InitFaxDecoder(FaxDecoder& decoder, uint32_t width, uint32_t bytesPerRow,
                    uint32_t stripByteCount, uint16_t fillOrder, int16_t mode, uint8_t background,
                    ReadOp read, void* file, RowSink sink, void* sinkContext) {
    FaxDecoder& d = decoder;
    d.width = width;
    d.bytesPerRow = bytesPerRow;
    d.fillOrder = fillOrder;
    d.mode = mode;
    d.background = background;
    d.read = read;
    d.file = file;
    d.sink = sink;
    d.sinkContext = sinkContext;
    d.input = nullptr;
    d.inputPos = 0;
    EndInput(d);
    // The imaginary white line above a T.6 strip.
    std::memset(d.referenceRow, background, sizeof d.referenceRow);
    if (!RowsFit(d) || read == nullptr) return;
    if (stripByteCount == 0) return;
    d.input = static_cast<uint8_t*>(std::malloc(std::min(stripByteCount, MaxBytesPerRead)));
    if (d.input != nullptr) d.bytesToRead = stripByteCount;  // no buffer: the strip reads as exhausted
}

void DecodeFaxRows(FaxDecoder& decoder, uint32_t rows) {
    if (decoder.bytesPerRow == 0) return;
    const uint32_t rowsPerChunk = std::max<uint32_t>(1, MaxChunkBytes / decoder.bytesPerRow);
    while (rows > 0) {
        const uint32_t count = std::min(rows, rowsPerChunk);
        DecodeChunk(decoder, count);
        rows -= count;
    }
}

void ReleaseFaxDecoder(FaxDecoder& decoder) {
    std::free(decoder.input);
    decoder.input = nullptr;
    EndInput(decoder);
}
