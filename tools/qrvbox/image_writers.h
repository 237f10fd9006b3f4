// Image files written a band of rows at a time, top row first, as the page conversion makes
// them: PNG (grayscale, 1 or 8 bits, stored deflate blocks, so that no compression library is
// needed on any system) and BMP (the page bitmap's headers and palette, rows bottom-up as every
// reader expects). Rows come at the conversion's stride (a multiple of 4 bytes).
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "imaging/page_conversion.h"

class ImageWriter {
public:
    virtual ~ImageWriter() = default;
    // Writes what precedes the rows; false on a write error or an unsupported plan.
    virtual bool Begin(FILE* file, const ConversionPlan& plan) = 0;
    virtual bool WriteRows(const uint8_t* rows, uint32_t count) = 0;
    virtual bool Finish() = 0;
};

class PngWriter : public ImageWriter {
public:
    bool Begin(FILE* file, const ConversionPlan& plan) override;
    bool WriteRows(const uint8_t* rows, uint32_t count) override;
    bool Finish() override;

private:
    bool Chunk(const char* type, const uint8_t* data, size_t length);
    bool Append(const uint8_t* data, size_t length);
    bool FlushBlock(bool last);

    FILE* file_ = nullptr;
    ConversionPlan plan_;
    uint32_t rowBytes_ = 0;          // bytes of one PNG row, without its filter byte
    uint32_t adler_ = 1;
    bool headerWritten_ = false;     // the zlib stream's header
    std::vector<uint8_t> block_;     // uncompressed bytes of the next stored block
};

class BmpWriter : public ImageWriter {
public:
    bool Begin(FILE* file, const ConversionPlan& plan) override;
    bool WriteRows(const uint8_t* rows, uint32_t count) override;
    bool Finish() override;

private:
    FILE* file_ = nullptr;
    ConversionPlan plan_;
    uint32_t pixelOffset_ = 0;
    uint32_t nextRow_ = 0;            // top-down index of the next row
    std::vector<uint8_t> flipped_;
};

// CRC-32 (ISO 3309, as PNG chunks carry it) of bytes, continuing crc (0 to start).
uint32_t Crc32(uint32_t crc, const uint8_t* bytes, size_t length);
// Adler-32 (as zlib streams carry it), continuing adler (1 to start).
uint32_t Adler32(uint32_t adler, const uint8_t* bytes, size_t length);
