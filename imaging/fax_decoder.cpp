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

// Eight bytes each with its bit order reversed.
inline uint64_t ReverseBitsOfBytes(uint64_t x) {
    x = (x >> 1 & 0x5555555555555555ull) | (x & 0x5555555555555555ull) << 1;
    x = (x >> 2 & 0x3333333333333333ull) | (x & 0x3333333333333333ull) << 2;
    return (x >> 4 & 0x0F0F0F0F0F0F0F0Full) | (x & 0x0F0F0F0F0F0F0F0Full) << 4;
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
        uint32_t i = 0;
        for (; i + 8 <= got; i += 8) {
            uint64_t word;
            std::memcpy(&word, d.input + i, sizeof word);
            word = ReverseBitsOfBytes(word);
            std::memcpy(d.input + i, &word, sizeof word);
        }
        for (; i < got; ++i) d.input[i] = FaxReversedBits[d.input[i]];
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

// The bit buffer while rows are decoded. It lives in locals, not in the decoder record: the
// record's 32-bit fields may alias the changing-element lists, which would send every code
// through memory. The 64-bit types keep the compiler from assuming that.
struct Bits {
    uint64_t buffer;  // next code bit in bit 0; zeros above the real bits
    int64_t count;    // real bits; negative when a code overran the input
};

Bits LoadBits(const FaxDecoder& d) {
    return Bits{d.bitBuffer, d.bitCount};
}

void StoreBits(FaxDecoder& d, Bits b) {
    d.bitBuffer = b.buffer;
    d.bitCount = static_cast<int32_t>(b.count);
}

// Takes as many whole bytes as fit below bit 64 from the buffer, which holds eight or more.
[[gnu::always_inline]] inline void TakeBytes(FaxDecoder& d, Bits& b) {
    const auto take = static_cast<uint32_t>(63 - b.count) / 8;  // 1 to 7 bytes
    const uint64_t word = LoadLittleEndian(d.input + d.inputPos) & (~0ull >> (64 - 8 * take));
    b.buffer |= word << b.count;
    b.count += 8 * take;
    d.inputPos += take;
    d.bytesInBuffer -= take;
}

// Tops the buffer up to 56 bits or more while input lasts: the bytes that fit in one 8-byte load
// where the buffer holds eight, else one byte at a time. The next piece of the strip is read only
// once fewer than 16 bits are left, so that no read is made that decoding may never need.
Bits RefillSlowly(FaxDecoder& d, Bits b) {
    if (b.count < 0) return b;  // a code overran the input: it has ended
    while (b.count < 56) {
        if (d.bytesInBuffer == 0) {
            if (b.count >= 16 || d.bytesToRead == 0) break;
            ReadInput(d);
            if (d.bytesInBuffer == 0) break;
        }
        if (d.bytesInBuffer >= 8) {
            TakeBytes(d, b);
        } else {
            b.buffer |= static_cast<uint64_t>(d.input[d.inputPos]) << b.count;
            b.count += 8;
            d.inputPos += 1;
            d.bytesInBuffer -= 1;
        }
    }
    return b;
}

// Makes at least 16 bits available while input lasts (no code is longer than 13). Returns false
// when no bit is left: past the input's end the buffer reads as zeros above the remaining bits.
[[gnu::always_inline]] inline bool Refill(FaxDecoder& d, Bits& b) {
    if (b.count >= 16) return true;
    if (b.count >= 0 && d.bytesInBuffer >= 8) {  // the common case, as RefillSlowly would do it
        TakeBytes(d, b);
        return true;
    }
    b = RefillSlowly(d, b);
    return b.count > 0;
}

[[gnu::always_inline]] inline void Consume(Bits& b, int bits) {
    b.buffer >>= bits;
    b.count -= bits;
}

// Fill zeros before an EOL: skips zeros up to the EOL's closing 1-bit.
[[gnu::always_inline]] inline int SkipFill(FaxDecoder& d, Bits& b) {
    for (;;) {
        if (!Refill(d, b)) return FaxExhausted;
        const uint32_t low = static_cast<uint32_t>(b.buffer) & 0xFF;
        if (low == 0) {
            Consume(b, 8);
            continue;
        }
        Consume(b, std::countr_zero(low) + 1);
        return FaxEolMet;
    }
}

template <bool White>
[[gnu::always_inline]] inline FaxCode LookUpRunCode(uint32_t bits) {
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
[[gnu::always_inline]] inline int DecodeRun(FaxDecoder& d, Bits& b) {
    int total = 0;
    for (;;) {
        if (!Refill(d, b)) return FaxExhausted;
        const FaxCode code = LookUpRunCode<White>(static_cast<uint32_t>(b.buffer));
        if (code.kind == FaxCodeInvalid) return FaxInvalid;
        Consume(b, code.length);
        // The code reached past the input's end: it was never sent.
        if (b.count < 0) return FaxExhausted;
        switch (code.kind) {
        case FaxCodeTerminating:
            return total + code.value;
        case FaxCodeMakeUp:
            total = std::min(total + code.value, RunCap);
            break;
        case FaxCodeEol:
            return FaxEolMet;
        default:
            return SkipFill(d, b);
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

// A row's list while it is being decoded, in locals; the row decoders write it back at the end.
// The last change is kept at hand for the test of a zero-length run.
struct ListWriter {
    uint32_t* at;
    uint32_t count = 0;
    uint32_t last = UINT32_MAX;  // none
};

// A zero-length run makes a change on the place of the one before: the two cancel out.
[[gnu::always_inline]] inline void AddChange(ListWriter& c, uint32_t position) {
    if (position == c.last) {
        --c.count;
        c.last = c.count > 0 ? c.at[c.count - 1] : UINT32_MAX;
    } else {
        c.at[c.count++] = position;
        c.last = position;
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

inline void StoreBigEndian(uint8_t* bytes, uint64_t word) {
    if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
    std::memcpy(bytes, &word, sizeof word);
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

// Room a chunk has past its last row: a row's last word of 64 pixels may reach past its stride.
constexpr size_t PaintSlack = 8;
// Words of a row's flips: one past the row's for a change on the width itself.
constexpr uint32_t FlipWords = FaxMaxWidth / 64 + 1;

// Paints a row, still background, from its changing elements. Each change flips the colour from
// its pixel to the end of its 64-pixel word; the row is then the running parity of those flips,
// carried from word to word, which needs no branch per run. An open black run is closed at its
// end first, so that the pixels past the width stay background. Only the words from the first
// change to the last are stored, whole: the bytes a last word reaches past the row (padding, the
// next row's start or the chunk's slack) are still background and stay so. flips (2 x FlipWords)
// must be zero on entry and is left zero.
void PaintRow(const FaxDecoder& d, const Changes& c, uint8_t* row, uint64_t* flips) {
    if (c.count == 0) return;
    // Changes to black and changes to white flip words of their own, so that two changes in one
    // word do not wait on each other.
    uint64_t* toWhite = flips + FlipWords;
    const uint32_t pairs = c.count / 2;
    for (uint32_t i = 0; i < pairs; ++i) {
        const uint32_t from = c.at[2 * i], to = c.at[2 * i + 1];
        flips[from / 64] ^= ~0ull >> (from % 64);
        toWhite[to / 64] ^= ~0ull >> (to % 64);
    }
    uint32_t close = c.at[c.count - 1];
    if (c.count % 2 != 0) {
        flips[close / 64] ^= ~0ull >> (close % 64);
        close = std::min(c.end, d.width);
        toWhite[close / 64] ^= ~0ull >> (close % 64);
    }
    const uint64_t colours = 0x0101010101010101ull * d.background;
    const uint32_t wordCount = (d.width + 63) / 64;
    const uint32_t last = close / 64;
    uint64_t carry = 0;  // all ones when the word before ends black
    for (uint32_t w = c.at[0] / 64; w <= last; ++w) {
        const uint64_t black = carry ^ flips[w] ^ toWhite[w];
        flips[w] = 0;
        toWhite[w] = 0;
        carry = 0 - (black & 1);
        if (w < wordCount) StoreBigEndian(row + 8 * static_cast<size_t>(w), colours ^ black);
    }
}

int DecodeOneDimensionalRow(FaxDecoder& d, Bits& bits, Changes& row) {
    Bits b = bits;  // a local of this function, so that it stays in registers
    const uint32_t width = d.width;
    ListWriter out{row.at};
    uint32_t a0 = 0;
    uint32_t end = 0;
    int result = 0;
    while (a0 < width) {
        const int white = DecodeRun<true>(d, b);
        if (white < 0) {
            result = white;
            break;
        }
        if (static_cast<uint32_t>(white) > width - a0) {
            result = FaxInvalid;
            break;
        }
        a0 += white;
        if (a0 >= width) break;
        AddChange(out, a0);
        end = a0;
        const int run = DecodeRun<false>(d, b);
        if (run < 0) {
            result = run;
            break;
        }
        if (static_cast<uint32_t>(run) > width - a0) {
            result = FaxInvalid;
            break;
        }
        a0 += run;
        AddChange(out, a0);
    }
    bits = b;
    row.count = out.count;
    row.end = result == 0 ? a0 : end;
    return result;
}

// Against the changing elements of the row above (sealed). Whatever happens, row.end is the a0
// reached, so that the row painted from the list is the part decoded.
//
// b1 is the first changing element of the row above past a0 to the opposite of the current colour:
// even places of the list change to black, so the place of b1 has the parity of the colour (even
// while white), and the search steps two places at a time. i keeps that parity, and every element
// of its parity before it lies at or before a0. While a0 is the row's start and the colour white,
// b1 is the first element, which may lie on a0 itself.
int DecodeTwoDimensionalRow(FaxDecoder& d, Bits& bits, const Changes& reference, Changes& row) {
    Bits b = bits;  // a local of this function, so that it stays in registers
    const uint32_t width = d.width;
    const uint32_t* above = reference.at;
    ListWriter out{row.at};
    uint32_t i = 0;  // odd while the colour is black
    uint32_t a0 = 0;
    int result = 0;
    while (a0 < width) {
        if (!Refill(d, b)) {
            result = FaxExhausted;
            break;
        }
        const FaxCode mode = FaxModeCodes[static_cast<uint32_t>(b.buffer) & 0x7F];
        if (mode.kind == FaxCodeInvalid) {
            result = FaxInvalid;
            break;
        }
        Consume(b, mode.length);
        if (b.count < 0) {
            result = FaxExhausted;
            break;
        }
        if (mode.kind == FaxModeHorizontal) {
            // A run of the current colour, then one of the other colour.
            const bool white = i % 2 == 0;
            const int first = white ? DecodeRun<true>(d, b) : DecodeRun<false>(d, b);
            const int second = first < 0 ? first : white ? DecodeRun<false>(d, b) : DecodeRun<true>(d, b);
            if (second < 0 || static_cast<uint32_t>(first) + static_cast<uint32_t>(second) > width - a0) {
                result = FaxInvalid;
                break;
            }
            AddChange(out, a0 + first);
            a0 += first + second;
            AddChange(out, a0);
            continue;
        }
        if (a0 != 0 || i % 2 != 0) {
            while (above[i] <= a0) i += 2;
        } else {
            i = 0;  // white at the row's start (again, after a return to white on pixel 0)
        }
        if (mode.kind == FaxModePass) {
            a0 = above[i + 1];  // b2; the colour stays, and b1 lies before a0 now
            i += 2;
            continue;
        }
        const int64_t a1 = static_cast<int64_t>(above[i]) + mode.value;
        if (a1 > width || a1 < a0) {
            result = FaxInvalid;
            break;
        }
        a0 = static_cast<uint32_t>(a1);
        AddChange(out, a0);
        // The colour changes, and with it the parity. The element before b1 may lie past a1 (the
        // ones of its parity before it lie before the old a0); usually the one after b1 is next.
        // A list's place before its first element holds 0, which lies past no a1.
        i = above[static_cast<int64_t>(i) - 1] > a0 ? i - 1 : i + 1;
    }
    bits = b;
    row.count = out.count;
    row.end = a0;
    return result;
}

// After an invalid code: looks for the next EOL (eleven zeros) and leaves it unread, so that the
// next row starts with it.
bool FindNextEol(FaxDecoder& d, Bits& b) {
    for (;;) {
        if (!Refill(d, b)) return false;
        const uint32_t low = static_cast<uint32_t>(b.buffer) & 0xFF;
        if (low != 0) {
            Consume(b, std::countr_zero(low) + 1);
            continue;
        }
        const uint32_t next = static_cast<uint32_t>(b.buffer >> 8) & 7;
        if (next == 0) return true;
        Consume(b, 8 + std::countr_zero(next) + 1);
    }
}

const uint8_t* RowAbove(const FaxDecoder& d, const uint8_t* chunk, uint32_t row) {
    return row == 0 ? d.referenceRow : chunk + static_cast<size_t>(row - 1) * d.bytesPerRow;
}

// What a chunk's rows are decoded with: the changing elements of the row above and of the row
// being decoded, and the flips a row is painted from.
struct ChunkWork {
    Changes above;
    Changes row;
    uint64_t* flips;
};

// A T.4 row after its EOL: one-dimensional, or with a tag bit choosing the coding.
int DecodeT4Row(FaxDecoder& d, Bits& b, ChunkWork& work, bool tagged) {
    work.row.count = 0;
    work.row.end = 0;
    if (!tagged) return DecodeOneDimensionalRow(d, b, work.row);
    if (!Refill(d, b)) return FaxExhausted;
    const bool oneDimensional = (b.buffer & 1) != 0;
    Consume(b, 1);
    return oneDimensional ? DecodeOneDimensionalRow(d, b, work.row)
                          : DecodeTwoDimensionalRow(d, b, work.above, work.row);
}

// The decoded row becomes the row above the next one.
void MoveDown(const FaxDecoder& d, ChunkWork& work) {
    std::swap(work.above, work.row);
    Seal(work.above, d.width);
}

// T.4 page loop: every row begins with an EOL. A bad row is replaced by the row above once the
// next EOL is found; an EOL where a run belongs (the return-to-control sequence), exhausted input
// or no further EOL ends the chunk. Returns true when the chunk was gone through.
bool DecodeT4Rows(FaxDecoder& d, Bits& b, uint8_t* chunk, uint32_t rows, bool tagged, ChunkWork& work) {
    for (uint32_t i = 0; i < rows; ++i) {
        uint8_t* row = chunk + static_cast<size_t>(i) * d.bytesPerRow;
        // The EOL is read with the tables of colour byte 0.
        int result = d.background == 0 ? DecodeRun<true>(d, b) : DecodeRun<false>(d, b);
        if (result >= 0) {  // a run where the EOL belongs: the row stays background
            work.above.count = 0;
            Seal(work.above, d.width);
            continue;
        }
        if (result == FaxEolMet) {
            result = DecodeT4Row(d, b, work, tagged);
            PaintRow(d, work.row, row, work.flips);
        }
        if (result == FaxExhausted || result == FaxEolMet) return false;
        if (result == FaxInvalid) {
            if (!FindNextEol(d, b)) return false;
            std::memcpy(row, RowAbove(d, chunk, i), UsedRowBytes(d));  // the row above stays above
            continue;
        }
        MoveDown(d, work);
    }
    return true;
}

bool DecodeT4Chunk(FaxDecoder& d, uint8_t* chunk, uint32_t rows, bool tagged, ChunkWork& work) {
    Bits b = LoadBits(d);
    const bool completed = DecodeT4Rows(d, b, chunk, rows, tagged, work);
    StoreBits(d, b);
    return completed;
}

// T.6 page loop: no EOLs, so no resynchronisation; any error ends the chunk.
bool DecodeT6Chunk(FaxDecoder& d, uint8_t* chunk, uint32_t rows, ChunkWork& work) {
    Bits b = LoadBits(d);
    bool completed = true;
    for (uint32_t i = 0; i < rows; ++i) {
        uint8_t* row = chunk + static_cast<size_t>(i) * d.bytesPerRow;
        const int result = DecodeTwoDimensionalRow(d, b, work.above, work.row);
        PaintRow(d, work.row, row, work.flips);
        if (result < 0) {
            completed = false;
            break;
        }
        MoveDown(d, work);
    }
    StoreBits(d, b);
    return completed;
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
    uint8_t* chunk = static_cast<uint8_t*>(std::malloc(bytes + PaintSlack));
    // Each list holds at most width + 1 changes and the three copies of the width after them, and
    // has a 0 before its first element.
    const size_t listLength = RowsFit(d) ? static_cast<size_t>(d.width) + 5 : 5;
    uint32_t* lists = static_cast<uint32_t*>(std::malloc(2 * listLength * sizeof(uint32_t)));
    if (chunk == nullptr || lists == nullptr) {
        std::free(chunk);
        std::free(lists);
        EndInput(d);
        DeliverWhiteRows(d, rows);
        return;
    }
    std::memset(chunk, d.background, bytes + PaintSlack);
    if (RowsFit(d)) {
        uint64_t flips[2 * FlipWords] = {};
        lists[0] = lists[listLength] = 0;
        ChunkWork work{{lists + 1, 0, 0}, {lists + listLength + 1, 0, 0}, flips};
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
