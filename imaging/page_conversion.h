// Conversion of a decoded page (1-bit rows, white = 1) to the transfer settings: a new
// resolution, a fixed paper size and an output pixel type.
//
// Sizes and regions follow integer rules that callers may rely on exactly:
// - resolution change on: the output resolution is the target truncated, the scaled size is
//   trunc(W x target x / Rx) by trunc(H x target y / Ry); off: the page's size and resolution;
// - fixed size on: the output is (resolution x paper size / 100) in each direction, paper sizes in
//   hundredths of an inch; off: the scaled size;
// - the source region, the top-left W - max(0, Ws - Wo) x W / Ws by H - max(0, Hs - Ho) x H / Hs
//   pixels of the page, is scaled onto the top-left min(Ws, Wo) by min(Hs, Ho) pixels of the
//   output; the rest of the output is white.
//
// Scaling is area averaging, exact in integers: each output pixel is a rectangle over the source
// region, and every source pixel counts with the area it shares with that rectangle. With the
// white area share s (0 to 1) of an output pixel, gray output is round(255 x s) with halves
// rounded up; black-and-white output is white when s >= 1/2 (the nearer of the two, white on a
// tie); RGB output is the gray level in all three channels.
#pragma once

#include <cstdint>
#include <memory>

// Largest converted page the converter will produce: far above any real page (an A3 sheet at
// 400 dpi in RGB is about 93 MB), small enough that an absurd setting fails instead of
// exhausting memory.
constexpr uint64_t MaxConvertedPageBytes = 256ull * 1024 * 1024;

struct ConversionSettings {
    bool resolutionChange = false;
    double targetXResolution = 0;   // dots per inch
    double targetYResolution = 0;
    int pixelType = 0;              // 0 black and white, 1 gray, 2 RGB
    bool fixedSizeOn = false;
    int32_t paperWidth = 0;         // hundredths of an inch
    int32_t paperHeight = 0;
};

struct ConversionPlan {
    bool unchanged = false;         // the page is used as decoded
    uint32_t width = 0;             // output
    uint32_t height = 0;
    uint32_t stride = 0;
    uint64_t bytes = 0;             // stride x height
    int32_t xResolution = 0;
    int32_t yResolution = 0;
    int pixelType = 0;
    uint32_t sourceWidth = 0;       // source region (top-left of the page)
    uint32_t sourceHeight = 0;
    uint32_t regionWidth = 0;       // destination region (top-left of the output)
    uint32_t regionHeight = 0;
};

// Works out the output of converting a W x H page at Rx x Ry dpi. Returns 0 when the page cannot
// be converted: an empty page, a resolution or paper size that is not positive, an unknown pixel
// type, or an output larger than MaxConvertedPageBytes.
int PlanPageConversion(uint32_t width, uint32_t height, int32_t xResolution, int32_t yResolution,
                       const ConversionSettings& settings, ConversionPlan& plan);

// A source row that the output row being made covers: its pixels, the part of it the output row
// covers (in units), and its black bits last read.
struct PageScalerRow {
    const uint8_t* at;
    uint32_t weight;
    uint64_t bits;
};

// State of one conversion, for converting a page band by band. Lengths are in units that make
// every pixel edge an integer: a source pixel is sourceUnits long and an output pixel
// outputUnits, per direction (the region's sizes divided by their greatest common divisor,
// crosswise).
struct PageScaler {
    ConversionPlan plan;
    const uint8_t* source = nullptr;
    uint32_t sourceStride = 0;
    uint32_t nextRow = 0;                       // the next output row to make
    bool copyBits = false;                      // black and white at the same size: bits copied
    uint64_t sourceUnitsX = 0, outputUnitsX = 0;
    uint64_t sourceUnitsY = 0, outputUnitsY = 0;
    uint64_t area = 0;                          // units in one output pixel
    std::unique_ptr<uint32_t[]> firstOutput;    // per source column and the region's right edge:
                                                // the output column of its left edge
    std::unique_ptr<uint32_t[]> lastOutput;     // and of its right edge
    std::unique_ptr<uint8_t[]> grayOfBlack;     // gray level by black area, when small enough
    std::unique_ptr<PageScalerRow[]> rows;      // the source rows of the output row being made
    uint32_t rowCount = 0;
};

// Prepares the conversion of source (the page's rows at sourceStride bytes each, which must cover
// the rows' 32-bit padding). Returns 0 when the source stride is too small or working memory
// cannot be had. The source must stay in place until the last band.
int StartPageConversion(const ConversionPlan& plan, const uint8_t* source, uint32_t sourceStride,
                        PageScaler& scaler);
// Writes the next output rows, at most rows of them (fewer at the end of the page), into out
// (plan.stride bytes per row, every byte written). Returns the number of rows written.
uint32_t ConvertPageBand(PageScaler& scaler, uint32_t rows, uint8_t* out);

// The whole converted page into output (plan.bytes bytes). Returns 0 as StartPageConversion.
int ConvertPageRows(const ConversionPlan& plan, const uint8_t* source, uint32_t sourceStride,
                    uint8_t* output);
