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

inline uint64_t LoadLittleEndian(const uint8_t* bytes) {
    uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    return word;
}

// Tops the buffer up to 56 bits or more while input lasts: the bytes that fit in one 8-byte load
// where the buffer holds eight, else one byte at a time. The next piece of the strip is read only
// once fewer than 16 bits are left, so that no read is made that decoding may never need.
// Returns false when no bit is left.
bool RefillSlowly(FaxDecoder& d) {
    if (d.bitCount < 0) return false;  // a code overran the input: it has ended
    while (d.bitCount < 56) {
        if (d.bytesInBuffer == 0) {
            if (d.bitCount >= 16 || d.bytesToRead == 0) break;
            ReadInput(d);
            if (d.bytesInBuffer == 0) break;
        }
        const uint8_t* bytes = d.input + d.inputPos;
        if (d.bytesInBuffer >= 8) {
            const uint32_t take = static_cast<uint32_t>(63 - d.bitCount) / 8;  // 1 to 7 bytes
            const uint64_t word = LoadLittleEndian(bytes) & (~0ull >> (64 - 8 * take));
            d.bitBuffer |= word << d.bitCount;
            d.bitCount += static_cast<int32_t>(8 * take);
            d.inputPos += take;
            d.bytesInBuffer -= take;
        } else {
            d.bitBuffer |= static_cast<uint64_t>(bytes[0]) << d.bitCount;
            d.bitCount += 8;
            d.inputPos += 1;
            d.bytesInBuffer -= 1;
        }
    }
    return d.bitCount > 0;
}

// Makes at least 16 bits available while input lasts (no code is longer than 13). Returns false
// when no bit is left: past the input's end the buffer reads as zeros above the remaining bits.
inline bool Refill(FaxDecoder& d) {
    return d.bitCount >= 16 || RefillSlowly(d);
}

inline void Consume(FaxDecoder& d, int bits) {
    d.bitBuffer >>= bits;
    d.bitCount -= bits;
}

// Fill zeros before an EOL: skips zeros up to the EOL's closing 1-bit.
int SkipFill(FaxDecoder& d) {
    for (;;) {
        if (!Refill(d)) return FaxExhausted;
        const uint32_t low = static_cast<uint32_t>(d.bitBuffer) & 0xFF;
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
        const FaxCode code = LookUpRunCode<White>(static_cast<uint32_t>(d.bitBuffer));
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

// The changing elements of a row: the pixels where the colour changes, strictly increasing, the
// first (and every other) a change from white to black; the width may close the list. Rows are
// decoded into such lists and painted from them; the search for b1 and b2 walks the list of the
// row above instead of its pixels. Three copies of the width follow a sealed list, so that the
// search runs into them and stops.
struct Changes {
    uint32_t* at = nullptr;
    uint32_t count = 0;
    uint32_t end = 0;  // where a black run still open at the list's end stops (a0 of the row)
};

// A zero-length run makes a change on the place of the one before: the two cancel out.
inline void AddChange(Changes& c, uint32_t position) {
    if (c.count > 0 && c.at[c.count - 1] == position) {
        --c.count;
    } else {
        c.at[c.count++] = position;
    }
}

void Seal(Changes& c, uint32_t width) {
    c.at[c.count] = c.at[c.count + 1] = c.at[c.count + 2] = width;
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

// The changing elements of a row held as pixels (a chunk's first reference row), sealed.
void ScanChanges(const FaxDecoder& d, const uint8_t* line, Changes& c) {
    const uint32_t endByte = (d.width + 7) / 8;
    const uint64_t colours = 0x0101010101010101ull * d.background;
    uint64_t previous = 0;  // the pixel before the word: white before the row
    c.count = 0;
    c.end = 0;
    for (uint32_t byte = 0; byte < endByte; byte += 8) {
        const uint64_t black = LoadLineWord(line, byte, endByte, colours) ^ colours;
        uint64_t changed = black ^ (black >> 1 | previous << 63);
        previous = black & 1;
        while (changed != 0) {
            const int bit = std::countl_zero(changed);
            const uint32_t position = byte * 8 + static_cast<uint32_t>(bit);
            if (position >= d.width) break;
            c.at[c.count++] = position;
            changed &= ~(1ull << (63 - bit));
        }
    }
    Seal(c, d.width);
}

// Sets pixels start to end - 1 in a row of 64-bit words, pixel 0 the top bit of word 0.
inline void FillRun(uint64_t* words, uint32_t start, uint32_t end) {
    if (start >= end) return;
    const uint32_t first = start / 64;
    const uint32_t last = (end - 1) / 64;
    const uint64_t head = ~0ull >> (start % 64);
    const uint64_t tail = ~0ull << (63 - (end - 1) % 64);
    if (first == last) {
        words[first] |= head & tail;
        return;
    }
    words[first] |= head;
    for (uint32_t w = first + 1; w < last; ++w) words[w] = ~0ull;
    words[last] |= tail;
}

// Paints a row, still background, from its changing elements: the black runs are set in a row of
// words (all zero between rows), and the words holding black go out to the row eight bytes at a
// time.
void PaintRow(const FaxDecoder& d, const Changes& c, uint8_t* row, uint64_t* words) {
    const uint32_t wordCount = (d.width + 63) / 64;
    for (uint32_t i = 0; i < c.count; i += 2) {
        const uint32_t end = i + 1 < c.count ? c.at[i + 1] : c.end;
        FillRun(words, c.at[i], std::min(end, d.width));
    }
    const uint64_t colours = 0x0101010101010101ull * d.background;
    const uint32_t usedBytes = (d.width + 7) / 8;
    for (uint32_t w = 0; w < wordCount; ++w) {
        if (words[w] == 0) continue;
        uint64_t bytes = words[w];
        words[w] = 0;
        if constexpr (std::endian::native == std::endian::little) bytes = __builtin_bswap64(bytes);
        bytes ^= colours;
        std::memcpy(row + 8 * w, &bytes, std::min<uint32_t>(8, usedBytes - 8 * w));
    }
}

int DecodeOneDimensionalRow(FaxDecoder& d, Changes& row) {
    const uint32_t width = d.width;
    uint32_t a0 = 0;
    row.count = 0;
    row.end = 0;
    while (a0 < width) {
        const int white = DecodeRun<true>(d);
        if (white < 0) return white;
        if (static_cast<uint32_t>(white) > width - a0) return FaxInvalid;
        a0 += white;
        if (a0 >= width) break;
        AddChange(row, a0);
        row.end = a0;
        const int run = DecodeRun<false>(d);
        if (run < 0) return run;
        if (static_cast<uint32_t>(run) > width - a0) return FaxInvalid;
        a0 += run;
        AddChange(row, a0);
    }
    row.end = a0;
    return 0;
}

// Horizontal mode: a run of the current colour, then one of the other colour.
int DecodeHorizontal(FaxDecoder& d, Changes& row, uint32_t& a0, bool white) {
    const int first = white ? DecodeRun<true>(d) : DecodeRun<false>(d);
    if (first < 0) return FaxInvalid;
    const int second = white ? DecodeRun<false>(d) : DecodeRun<true>(d);
    if (second < 0) return FaxInvalid;
    if (static_cast<uint32_t>(first) + static_cast<uint32_t>(second) > d.width - a0) return FaxInvalid;
    AddChange(row, a0 + first);
    a0 += first + second;
    AddChange(row, a0);
    return 0;
}

// Against the changing elements of the row above (sealed). Whatever happens, row.end is the a0
// reached, so that the row painted from the list is the part decoded.
int DecodeTwoDimensionalRow(FaxDecoder& d, const Changes& reference, Changes& row) {
    const uint32_t width = d.width;
    const uint32_t* above = reference.at;
    uint32_t b = 0;  // every element of the row above before this one lies at or before a0
    uint32_t a0 = 0;
    bool white = true;
    row.count = 0;
    while (a0 < width) {
        row.end = a0;
        if (!Refill(d)) return FaxExhausted;
        const FaxCode mode = FaxModeCodes[static_cast<uint32_t>(d.bitBuffer) & 0x7F];
        if (mode.kind == FaxCodeInvalid) return FaxInvalid;
        Consume(d, mode.length);
        if (d.bitCount < 0) return FaxExhausted;
        if (mode.kind == FaxModeHorizontal) {
            if (DecodeHorizontal(d, row, a0, white) < 0) return FaxInvalid;
            continue;
        }
        // b1: the first changing element of the row above past a0 to the opposite of the current
        // colour (even places change to black); at the row's start it may lie on a0 itself.
        uint32_t at = 0;
        if (!(a0 == 0 && white)) {
            while (above[b] <= a0) ++b;
            at = b + ((b % 2 == 0) != white);
        }
        const uint32_t b1 = above[at];
        if (mode.kind == FaxModePass) {
            a0 = above[at + 1];
            continue;
        }
        const int64_t a1 = static_cast<int64_t>(b1) + mode.value;
        if (a1 > width || a1 < a0) return FaxInvalid;
        a0 = static_cast<uint32_t>(a1);
        AddChange(row, a0);
        white = !white;
    }
    row.end = a0;
    return 0;
}

// After an invalid code: looks for the next EOL (eleven zeros) and leaves it unread, so that the
// next row starts with it.
bool FindNextEol(FaxDecoder& d) {
    for (;;) {
        if (!Refill(d)) return false;
        const uint32_t low = static_cast<uint32_t>(d.bitBuffer) & 0xFF;
        if (low != 0) {
            Consume(d, std::countr_zero(low) + 1);
            continue;
        }
        const uint32_t next = static_cast<uint32_t>(d.bitBuffer >> 8) & 7;
        if (next == 0) return true;
        Consume(d, 8 + std::countr_zero(next) + 1);
    }
}

const uint8_t* RowAbove(const FaxDecoder& d, const uint8_t* chunk, uint32_t row) {
    return row == 0 ? d.referenceRow : chunk + static_cast<size_t>(row - 1) * d.bytesPerRow;
}

// What a chunk's rows are decoded with: the changing elements of the row above and of the row
// being decoded, and a row of words to paint in.
struct ChunkWork {
    Changes above;
    Changes row;
    uint64_t* words;
};

// A T.4 row after its EOL: one-dimensional, or with a tag bit choosing the coding.
int DecodeT4Row(FaxDecoder& d, ChunkWork& work, bool tagged) {
    work.row.count = 0;
    work.row.end = 0;
    if (!tagged) return DecodeOneDimensionalRow(d, work.row);
    if (!Refill(d)) return FaxExhausted;
    const bool oneDimensional = (d.bitBuffer & 1) != 0;
    Consume(d, 1);
    return oneDimensional ? DecodeOneDimensionalRow(d, work.row)
                          : DecodeTwoDimensionalRow(d, work.above, work.row);
}

// The decoded row becomes the row above the next one.
void MoveDown(const FaxDecoder& d, ChunkWork& work) {
    std::swap(work.above, work.row);
    Seal(work.above, d.width);
}

// T.4 page loop: every row begins with an EOL. A bad row is replaced by the row above once the
// next EOL is found; an EOL where a run belongs (the return-to-control sequence), exhausted input
// or no further EOL ends the chunk. Returns true when the chunk was gone through.
bool DecodeT4Chunk(FaxDecoder& d, uint8_t* chunk, uint32_t rows, bool tagged, ChunkWork& work) {
    for (uint32_t i = 0; i < rows; ++i) {
        uint8_t* row = chunk + static_cast<size_t>(i) * d.bytesPerRow;
        // The EOL is read with the tables of colour byte 0.
        int result = d.background == 0 ? DecodeRun<true>(d) : DecodeRun<false>(d);
        if (result >= 0) {  // a run where the EOL belongs: the row stays background
            work.above.count = 0;
            Seal(work.above, d.width);
            continue;
        }
        if (result == FaxEolMet) {
            result = DecodeT4Row(d, work, tagged);
            PaintRow(d, work.row, row, work.words);
        }
        if (result == FaxExhausted || result == FaxEolMet) return false;
        if (result == FaxInvalid) {
            if (!FindNextEol(d)) return false;
            std::memcpy(row, RowAbove(d, chunk, i), UsedRowBytes(d));  // the row above stays above
            continue;
        }
        MoveDown(d, work);
    }
    return true;
}

// T.6 page loop: no EOLs, so no resynchronisation; any error ends the chunk.
bool DecodeT6Chunk(FaxDecoder& d, uint8_t* chunk, uint32_t rows, ChunkWork& work) {
    for (uint32_t i = 0; i < rows; ++i) {
        uint8_t* row = chunk + static_cast<size_t>(i) * d.bytesPerRow;
        const int result = DecodeTwoDimensionalRow(d, work.above, work.row);
        PaintRow(d, work.row, row, work.words);
        if (result < 0) return false;
        MoveDown(d, work);
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
    // Each list holds at most width + 1 changes and the three copies of the width after them.
    const size_t listLength = RowsFit(d) ? static_cast<size_t>(d.width) + 4 : 4;
    uint32_t* lists = static_cast<uint32_t*>(std::malloc(2 * listLength * sizeof(uint32_t)));
    if (chunk == nullptr || lists == nullptr) {
        std::free(chunk);
        std::free(lists);
        EndInput(d);
        DeliverWhiteRows(d, rows);
        return;
    }
    std::memset(chunk, d.background, bytes);
    if (RowsFit(d)) {
        uint64_t words[FaxMaxWidth / 64 + 1] = {};
        ChunkWork work{{lists, 0, 0}, {lists + listLength, 0, 0}, words};
        ScanChanges(d, d.referenceRow, work.above);
        if (d.mode == FaxModeT4OneD) {
            DecodeT4Chunk(d, chunk, rows, false, work);  // keeps no reference row
        } else if (d.mode == FaxModeT4TwoD) {
            if (DecodeT4Chunk(d, chunk, rows, true, work)) KeepLastRow(d, chunk, rows);
        } else {
            if (DecodeT6Chunk(d, chunk, rows, work)) KeepLastRow(d, chunk, rows);
        }
    }
    Deliver(d, chunk, static_cast<uint32_t>(bytes));
    std::free(chunk);
    std::free(lists);
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
