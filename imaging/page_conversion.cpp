#include "imaging/page_conversion.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <numeric>

#include "imaging/page_bitmap_format.h"

namespace {

// Resolutions are 16-bit signed numbers in TWAIN and in the decoded page's context.
constexpr double MaxResolution = 32767;
// Gray levels come from a table when an output pixel's area has at most this many units.
constexpr uint32_t MaxGrayTableArea = 65535;

uint32_t BlackWhiteStride(uint64_t width) {
    return static_cast<uint32_t>((width + 31) / 32 * 4);
}

// trunc(size x target / resolution), or 0 when it is not a usable size.
uint64_t ScaledSize(uint32_t size, double target, int32_t resolution) {
    const double scaled = std::floor(static_cast<double>(size) * target / resolution);
    return scaled >= 1 && scaled <= INT32_MAX ? static_cast<uint64_t>(scaled) : 0;
}

// The part of the page that lands on the output: all of it unless the scaled page is larger than
// the output, then that share of it (integer arithmetic, truncated).
uint32_t SourceExtent(uint64_t size, uint64_t scaled, uint64_t output) {
    const uint64_t excess = scaled > output ? scaled - output : 0;
    return static_cast<uint32_t>(size - excess * size / scaled);
}

uint32_t LoadBigEndian32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// Output pixels one source column touches, and with how much of its width.
struct ColumnSpan {
    uint32_t first = 0;
    uint32_t count = 0;
    uint32_t weightIndex = 0;
};

// State of one conversion. Lengths are in units that make every pixel edge an integer: a source
// pixel is sourceUnits long and an output pixel outputUnits, per direction (the region's sizes
// divided by their greatest common divisor, crosswise).
struct Scaler {
    const ConversionPlan* plan = nullptr;
    const uint8_t* source = nullptr;
    uint32_t sourceStride = 0;
    uint8_t* output = nullptr;
    uint64_t sourceUnitsX = 0, outputUnitsX = 0;
    uint64_t sourceUnitsY = 0, outputUnitsY = 0;
    uint64_t area = 0;                          // units in one output pixel
    std::unique_ptr<ColumnSpan[]> spans;        // per source column of the region
    std::unique_ptr<uint32_t[]> weights;        // the spans' overlaps, in x units
    std::unique_ptr<uint32_t[]> blackArea;      // per output column of the row being made
    std::unique_ptr<uint8_t[]> grayOfBlack;     // gray level by black area, when small enough
    uint32_t touchedFirst = 0, touchedEnd = 0;  // output columns with black area in this row
};

// The output columns of every source column with their overlaps (interval arithmetic in units).
bool BuildColumnSpans(Scaler& s) {
    const uint32_t columns = s.plan->sourceWidth;
    s.spans.reset(new (std::nothrow) ColumnSpan[columns]);
    s.weights.reset(new (std::nothrow) uint32_t[static_cast<size_t>(columns) + s.plan->regionWidth]);
    if (!s.spans || !s.weights) return false;
    uint32_t next = 0;
    for (uint32_t c = 0; c < columns; ++c) {
        const uint64_t start = c * s.sourceUnitsX;
        const uint64_t end = start + s.sourceUnitsX;
        ColumnSpan& span = s.spans[c];
        span.first = static_cast<uint32_t>(start / s.outputUnitsX);
        span.weightIndex = next;
        for (uint64_t d = span.first; d * s.outputUnitsX < end; ++d) {
            const uint64_t from = std::max(start, d * s.outputUnitsX);
            const uint64_t to = std::min(end, (d + 1) * s.outputUnitsX);
            s.weights[next++] = static_cast<uint32_t>(to - from);
        }
        span.count = next - span.weightIndex;
    }
    return true;
}

uint8_t GrayLevel(uint64_t blackArea, uint64_t area) {
    return static_cast<uint8_t>((2 * 255 * (area - blackArea) + area) / (2 * area));
}

bool BuildGrayTable(Scaler& s) {
    if (s.plan->pixelType == PixelTypeBlackWhite || s.area > MaxGrayTableArea) return true;
    s.grayOfBlack.reset(new (std::nothrow) uint8_t[s.area + 1]);
    if (!s.grayOfBlack) return false;
    for (uint64_t b = 0; b <= s.area; ++b) s.grayOfBlack[b] = GrayLevel(b, s.area);
    return true;
}

// Adds the black pixels of one source row, weighted by its overlap with the output row.
void AddSourceRow(Scaler& s, uint32_t sourceRow, uint32_t rowWeight) {
    const uint8_t* row = s.source + static_cast<size_t>(sourceRow) * s.sourceStride;
    const uint32_t width = s.plan->sourceWidth;
    const uint32_t words = (width + 31) / 32;
    uint32_t* black = s.blackArea.get();
    for (uint32_t k = 0; k < words; ++k) {
        uint32_t bits = ~LoadBigEndian32(row + 4 * k);
        if (k == words - 1 && width % 32 != 0) bits &= ~0u << (32 - width % 32);
        if (bits == 0) continue;
        s.touchedFirst = std::min(s.touchedFirst, s.spans[32 * k + std::countl_zero(bits)].first);
        while (bits != 0) {
            const int lead = std::countl_zero(bits);
            bits &= ~(0x80000000u >> lead);
            const ColumnSpan& span = s.spans[32 * k + lead];
            const uint32_t* w = &s.weights[span.weightIndex];
            for (uint32_t j = 0; j < span.count; ++j) black[span.first + j] += rowWeight * w[j];
            s.touchedEnd = std::max(s.touchedEnd, span.first + span.count);
        }
    }
}

// Writes the touched columns of output row y and clears their black area for the next row.
void EmitRow(Scaler& s, uint32_t y) {
    uint8_t* out = s.output + static_cast<size_t>(y) * s.plan->stride;
    uint32_t* black = s.blackArea.get();
    const int pixelType = s.plan->pixelType;
    for (uint32_t x = s.touchedFirst; x < s.touchedEnd; ++x) {
        const uint32_t b = black[x];
        if (b == 0) continue;
        black[x] = 0;
        if (pixelType == PixelTypeBlackWhite) {
            if (2ull * b > s.area) out[x >> 3] &= static_cast<uint8_t>(~(0x80u >> (x & 7)));
            continue;
        }
        const uint8_t gray = s.grayOfBlack ? s.grayOfBlack[b] : GrayLevel(b, s.area);
        if (pixelType == PixelTypeGray) {
            out[x] = gray;
        } else {
            out[3 * x] = gray;
            out[3 * x + 1] = gray;
            out[3 * x + 2] = gray;
        }
    }
}

// Region at the same size in black and white: the rows' bits are copied, the bits beyond the
// region stay white.
void CopyRegionBits(const ConversionPlan& plan, const uint8_t* source, uint32_t sourceStride,
                    uint8_t* output) {
    const uint32_t wholeBytes = plan.regionWidth / 8;
    const uint32_t restBits = plan.regionWidth % 8;
    const auto keep = static_cast<uint8_t>(0xFF00u >> restBits);
    for (uint32_t y = 0; y < plan.regionHeight; ++y) {
        const uint8_t* from = source + static_cast<size_t>(y) * sourceStride;
        uint8_t* to = output + static_cast<size_t>(y) * plan.stride;
        std::memcpy(to, from, wholeBytes);
        if (restBits != 0) to[wholeBytes] = static_cast<uint8_t>(from[wholeBytes] | ~keep);
    }
}

}  // namespace

int PlanPageConversion(uint32_t width, uint32_t height, int32_t xResolution, int32_t yResolution,
                       const ConversionSettings& settings, ConversionPlan& plan) {
    plan = ConversionPlan{};
    if (width == 0 || height == 0) return 0;
    plan.pixelType = settings.pixelType;
    uint64_t scaledWidth = width;
    uint64_t scaledHeight = height;
    plan.xResolution = xResolution;
    plan.yResolution = yResolution;
    if (settings.resolutionChange) {
        const double tx = settings.targetXResolution;
        const double ty = settings.targetYResolution;
        if (xResolution <= 0 || yResolution <= 0) return 0;
        if (!(tx >= 1 && tx <= MaxResolution && ty >= 1 && ty <= MaxResolution)) return 0;
        plan.xResolution = static_cast<int32_t>(tx);
        plan.yResolution = static_cast<int32_t>(ty);
        scaledWidth = ScaledSize(width, tx, xResolution);
        scaledHeight = ScaledSize(height, ty, yResolution);
        if (scaledWidth == 0 || scaledHeight == 0) return 0;
    } else if (settings.pixelType == PixelTypeBlackWhite && !settings.fixedSizeOn) {
        plan.unchanged = true;
        plan.width = plan.sourceWidth = plan.regionWidth = width;
        plan.height = plan.sourceHeight = plan.regionHeight = height;
        plan.stride = BlackWhiteStride(width);
        plan.bytes = static_cast<uint64_t>(plan.stride) * height;
        return 1;
    }

    uint64_t outWidth = scaledWidth;
    uint64_t outHeight = scaledHeight;
    if (settings.fixedSizeOn) {
        if (settings.paperWidth < 1 || settings.paperHeight < 1) return 0;
        const int64_t w = static_cast<int64_t>(plan.xResolution) * settings.paperWidth / 100;
        const int64_t h = static_cast<int64_t>(plan.yResolution) * settings.paperHeight / 100;
        if (w < 1 || h < 1 || w > INT32_MAX || h > INT32_MAX) return 0;
        outWidth = static_cast<uint64_t>(w);
        outHeight = static_cast<uint64_t>(h);
    }
    const uint64_t stride = PageRowStride(outWidth, settings.pixelType);
    if (stride == 0 || stride * outHeight > MaxConvertedPageBytes) return 0;

    plan.width = static_cast<uint32_t>(outWidth);
    plan.height = static_cast<uint32_t>(outHeight);
    plan.stride = static_cast<uint32_t>(stride);
    plan.bytes = stride * outHeight;
    plan.sourceWidth = SourceExtent(width, scaledWidth, outWidth);
    plan.sourceHeight = SourceExtent(height, scaledHeight, outHeight);
    plan.regionWidth = static_cast<uint32_t>(std::min(scaledWidth, outWidth));
    plan.regionHeight = static_cast<uint32_t>(std::min(scaledHeight, outHeight));
    // An output pixel's area in units is at most the source region's pixel count; it must stay
    // within 32 bits, as the black areas summed per output column do.
    if (static_cast<uint64_t>(plan.sourceWidth) * plan.sourceHeight > INT32_MAX) return 0;
    return 1;
}

int ConvertPageRows(const ConversionPlan& plan, const uint8_t* source, uint32_t sourceStride,
                    uint8_t* output) {
    if (sourceStride < BlackWhiteStride(plan.sourceWidth)) return 0;
    if (plan.unchanged) {
        for (uint32_t y = 0; y < plan.height; ++y)
            std::memcpy(output + static_cast<size_t>(y) * plan.stride,
                        source + static_cast<size_t>(y) * sourceStride, plan.stride);
        return 1;
    }
    std::memset(output, 0xFF, plan.bytes);
    if (plan.pixelType == PixelTypeBlackWhite && plan.regionWidth == plan.sourceWidth &&
        plan.regionHeight == plan.sourceHeight) {
        CopyRegionBits(plan, source, sourceStride, output);
        return 1;
    }

    Scaler s;
    s.plan = &plan;
    s.source = source;
    s.sourceStride = sourceStride;
    s.output = output;
    const uint64_t gx = std::gcd(plan.sourceWidth, plan.regionWidth);
    const uint64_t gy = std::gcd(plan.sourceHeight, plan.regionHeight);
    s.sourceUnitsX = plan.regionWidth / gx;
    s.outputUnitsX = plan.sourceWidth / gx;
    s.sourceUnitsY = plan.regionHeight / gy;
    s.outputUnitsY = plan.sourceHeight / gy;
    s.area = s.outputUnitsX * s.outputUnitsY;
    s.blackArea.reset(new (std::nothrow) uint32_t[plan.regionWidth]());
    if (!s.blackArea || !BuildColumnSpans(s) || !BuildGrayTable(s)) return 0;

    for (uint32_t y = 0; y < plan.regionHeight; ++y) {
        const uint64_t start = y * s.outputUnitsY;
        const uint64_t end = start + s.outputUnitsY;
        s.touchedFirst = plan.regionWidth;
        s.touchedEnd = 0;
        for (uint64_t r = start / s.sourceUnitsY; r * s.sourceUnitsY < end; ++r) {
            const uint64_t from = std::max(start, r * s.sourceUnitsY);
            const uint64_t to = std::min(end, (r + 1) * s.sourceUnitsY);
            AddSourceRow(s, static_cast<uint32_t>(r), static_cast<uint32_t>(to - from));
        }
        EmitRow(s, y);
    }
    return 1;
}
