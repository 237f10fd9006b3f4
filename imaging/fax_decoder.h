// ITU-T T.4 (one- and two-dimensional) and T.6 decoding of one TIFF strip into 1-bit rows.
#pragma once

#include <cstdint>

#include "imaging/page_io.h"

// Widest row the reference row holds.
constexpr uint32_t FaxMaxRowBytes = 912;
constexpr uint32_t FaxMaxWidth = FaxMaxRowBytes * 8;

// Decode modes, as chosen from the TIFF Compression and T4Options.
constexpr int16_t FaxModeT4OneD = 0;
constexpr int16_t FaxModeT6 = 1;
constexpr int16_t FaxModeT4TwoD = 3;

struct FaxDecoder {
    uint32_t width = 0;
    uint32_t bytesPerRow = 0;
    uint32_t bitBuffer = 0;
    int16_t bitCount = 0;
    int16_t mode = 0;
    uint16_t fillOrder = 1;
    uint8_t background = 0xFF;
    uint8_t* input = nullptr;       // owned
    uint32_t inputPos = 0;          // in 16-bit words
    uint32_t wordsToRead = 0;       // still in the file
    uint32_t wordsInBuffer = 0;     // left in the buffer
    ReadOp read = nullptr;
    void* file = nullptr;
    RowSink sink = nullptr;
    void* sinkContext = nullptr;
    uint8_t referenceRow[FaxMaxRowBytes];
};

void InitFaxDecoder(FaxDecoder& decoder, uint32_t width, uint32_t bytesPerRow,
                    uint32_t stripByteCount, uint16_t fillOrder, int16_t mode, uint8_t background,
                    ReadOp read, void* file, RowSink sink, void* sinkContext);
void DecodeFaxRows(FaxDecoder& decoder, uint32_t rows);
void ReleaseFaxDecoder(FaxDecoder& decoder);
