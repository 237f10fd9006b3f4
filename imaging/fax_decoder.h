// ITU-T T.4 (one- and two-dimensional) and T.6 decoding of one TIFF strip into 1-bit rows.
//
// One decoder per strip: InitFaxDecoder, one DecodeFaxRows call for the strip's row count,
// ReleaseFaxDecoder. The decoder pulls the strip's bytes through the read operation (the file
// already positioned at the strip) and hands finished rows to the sink in chunks of at most 1 MiB.
// It is tolerant: bad rows are concealed or left white, and every requested row is delivered.
#pragma once

#include <cstdint>

#include "imaging/page_io.h"

// Widest row the reference row holds.
constexpr uint32_t FaxMaxRowBytes = 912;
constexpr uint32_t FaxMaxWidth = FaxMaxRowBytes * 8;

// Decode modes, as chosen from the TIFF Compression and T4Options. Any other value decodes as T.6.
constexpr int16_t FaxModeT4OneD = 0;
constexpr int16_t FaxModeT6 = 1;
constexpr int16_t FaxModeT4TwoD = 3;

struct FaxDecoder {
    uint32_t width = 0;
    uint32_t bytesPerRow = 0;
    uint64_t bitBuffer = 0;         // next code bit in bit 0; zeros above the real bits
    int32_t bitCount = 0;           // real bits in bitBuffer; negative when a code overran the input
    int16_t mode = 0;
    uint16_t fillOrder = 1;
    uint8_t background = 0xFF;      // the byte of a white row; black is its complement
    uint8_t* input = nullptr;       // owned; bytes already in transmission bit order
    uint32_t inputPos = 0;          // next byte in the buffer
    uint32_t bytesToRead = 0;       // still in the file
    uint32_t bytesInBuffer = 0;     // left in the buffer
    ReadOp read = nullptr;
    void* file = nullptr;
    RowSink sink = nullptr;
    void* sinkContext = nullptr;
    uint8_t referenceRow[FaxMaxRowBytes];  // the row above a chunk's first row
};

void InitFaxDecoder(FaxDecoder& decoder, uint32_t width, uint32_t bytesPerRow,
                    uint32_t stripByteCount, uint16_t fillOrder, int16_t mode, uint8_t background,
                    ReadOp read, void* file, RowSink sink, void* sinkContext);
void DecodeFaxRows(FaxDecoder& decoder, uint32_t rows);
void ReleaseFaxDecoder(FaxDecoder& decoder);
