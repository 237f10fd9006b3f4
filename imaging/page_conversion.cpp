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

// The output columns each source column reaches (interval arithmetic in units).
bool BuildColumnMap(PageScaler& s) {
    const uint32_t columns = s.plan.sourceWidth;
    s.firstOutput.reset(new (std::nothrow) uint32_t[columns]);
    s.lastOutput.reset(new (std::nothrow) uint32_t[columns]);
    if (!s.firstOutput || !s.lastOutput) return false;
    for (uint64_t c = 0; c < columns; ++c) {
        s.firstOutput[c] = static_cast<uint32_t>(c * s.sourceUnitsX / s.outputUnitsX);
        s.lastOutput[c] = static_cast<uint32_t>(((c + 1) * s.sourceUnitsX - 1) / s.outputUnitsX);
    }
    return true;
}

uint8_t GrayLevel(uint64_t blackArea, uint64_t area) {
    return static_cast<uint8_t>((2 * 255 * (area - blackArea) + area) / (2 * area));
}

bool BuildGrayTable(PageScaler& s) {
    if (s.plan.pixelType == PixelTypeBlackWhite || s.area > MaxGrayTableArea) return true;
    s.grayOfBlack.reset(new (std::nothrow) uint8_t[s.area + 1]);
    if (!s.grayOfBlack) return false;
    for (uint64_t b = 0; b <= s.area; ++b) s.grayOfBlack[b] = GrayLevel(b, s.area);
    return true;
}

// Marks output columns first to last (inclusive) as having black area.
void MarkTouched(PageScaler& s, uint32_t first, uint32_t last) {
    uint64_t* touched = s.touched.get();
    const uint32_t firstWord = first / 64, lastWord = last / 64;
    const uint64_t head = ~0ull << (first % 64);
    const uint64_t tail = ~0ull >> (63 - last % 64);
    if (firstWord == lastWord) {
        touched[firstWord] |= head & tail;
    } else {
        touched[firstWord] |= head;
        for (uint32_t w = firstWord + 1; w < lastWord; ++w) touched[w] = ~0ull;
        touched[lastWord] |= tail;
    }
    s.touchedFirst = std::min(s.touchedFirst, firstWord);
    s.touchedEnd = std::max(s.touchedEnd, lastWord + 1);
}

// Adds black source columns from to end (exclusive), weighted by the row's overlap: output
// columns inside the run get their whole width, the two at its ends the part the run covers.
void AddBlackRun(PageScaler& s, uint32_t from, uint32_t end, uint32_t rowWeight) {
    uint32_t* black = s.blackArea.get();
    const uint32_t first = s.firstOutput[from];
    const uint32_t last = s.lastOutput[end - 1];
    const uint64_t left = from * s.sourceUnitsX;
    const uint64_t right = end * s.sourceUnitsX;
    if (first == last) {
        black[first] += static_cast<uint32_t>(rowWeight * (right - left));
    } else {
        black[first] += static_cast<uint32_t>(rowWeight * ((first + 1) * s.outputUnitsX - left));
        const auto whole = static_cast<uint32_t>(rowWeight * s.outputUnitsX);
        for (uint32_t x = first + 1; x < last; ++x) black[x] += whole;
        black[last] += static_cast<uint32_t>(rowWeight * (right - last * s.outputUnitsX));
    }
    MarkTouched(s, first, last);
}

// Adds the black runs of one source row, weighted by its overlap with the output row. A run is
// cut where a 32-bit word ends; the two parts add up to the same areas.
void AddSourceRow(PageScaler& s, uint32_t sourceRow, uint32_t rowWeight) {
    const uint8_t* row = s.source + static_cast<size_t>(sourceRow) * s.sourceStride;
    const uint32_t width = s.plan.sourceWidth;
    const uint32_t words = (width + 31) / 32;
    for (uint32_t k = 0; k < words; ++k) {
        uint32_t bits = ~LoadBigEndian32(row + 4 * k);
        if (k == words - 1 && width % 32 != 0) bits &= ~0u << (32 - width % 32);
        while (bits != 0) {
            const int lead = std::countl_zero(bits);
            const int length = std::countl_one(bits << lead);
            AddBlackRun(s, 32 * k + lead, 32 * k + lead + length, rowWeight);
            bits &= length + lead >= 32 ? 0u : ~0u >> (lead + length);
        }
    }
}

// Writes the touched columns into an output row and clears their marks for the next row.
// Columns without black area are white already.
void EmitRow(PageScaler& s, uint8_t* out) {
    uint32_t* black = s.blackArea.get();
    uint64_t* touched = s.touched.get();
    const int pixelType = s.plan.pixelType;
    for (uint32_t word = s.touchedFirst; word < s.touchedEnd; ++word) {
        uint64_t marks = touched[word];
        touched[word] = 0;
        while (marks != 0) {
            const uint32_t x = word * 64 + static_cast<uint32_t>(std::countr_zero(marks));
            marks &= marks - 1;
            const uint32_t b = black[x];
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
}

// Region at the same size in black and white: the row's bits are copied, the bits beyond the
// region stay white.
void CopyRegionBits(const PageScaler& s, uint32_t y, uint8_t* out) {
    const uint32_t wholeBytes = s.plan.regionWidth / 8;
    const uint32_t restBits = s.plan.regionWidth % 8;
    const auto keep = static_cast<uint8_t>(0xFF00u >> restBits);
    const uint8_t* from = s.source + static_cast<size_t>(y) * s.sourceStride;
    std::memcpy(out, from, wholeBytes);
    if (restBits != 0) out[wholeBytes] = static_cast<uint8_t>(from[wholeBytes] | ~keep);
}

// Output row y of the region, scaled from the source rows it covers.
void ScaleRow(PageScaler& s, uint32_t y, uint8_t* out) {
    const uint64_t start = y * s.outputUnitsY;
    const uint64_t end = start + s.outputUnitsY;
    s.touchedFirst = UINT32_MAX;
    s.touchedEnd = 0;
    for (uint64_t r = start / s.sourceUnitsY; r * s.sourceUnitsY < end; ++r) {
        const uint64_t from = std::max(start, r * s.sourceUnitsY);
        const uint64_t to = std::min(end, (r + 1) * s.sourceUnitsY);
        AddSourceRow(s, static_cast<uint32_t>(r), static_cast<uint32_t>(to - from));
    }
    EmitRow(s, out);
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

int StartPageConversion(const ConversionPlan& plan, const uint8_t* source, uint32_t sourceStride,
                        PageScaler& s) {
    s = PageScaler{};
    if (sourceStride < BlackWhiteStride(plan.sourceWidth)) return 0;
    s.plan = plan;
    s.source = source;
    s.sourceStride = sourceStride;
    s.copyBits = plan.pixelType == PixelTypeBlackWhite && plan.regionWidth == plan.sourceWidth &&
                 plan.regionHeight == plan.sourceHeight;
    if (plan.unchanged || s.copyBits) return 1;
    const uint64_t gx = std::gcd(plan.sourceWidth, plan.regionWidth);
    const uint64_t gy = std::gcd(plan.sourceHeight, plan.regionHeight);
    s.sourceUnitsX = plan.regionWidth / gx;
    s.outputUnitsX = plan.sourceWidth / gx;
    s.sourceUnitsY = plan.regionHeight / gy;
    s.outputUnitsY = plan.sourceHeight / gy;
    s.area = s.outputUnitsX * s.outputUnitsY;
    s.blackArea.reset(new (std::nothrow) uint32_t[plan.regionWidth]());
    s.touched.reset(new (std::nothrow) uint64_t[(plan.regionWidth + 63) / 64]());
    if (!s.blackArea || !s.touched || !BuildColumnMap(s) || !BuildGrayTable(s)) return 0;
    return 1;
}

uint32_t ConvertPageBand(PageScaler& s, uint32_t rows, uint8_t* out) {
    const ConversionPlan& plan = s.plan;
    rows = std::min(rows, plan.height - s.nextRow);
    for (uint32_t i = 0; i < rows; ++i, ++s.nextRow) {
        const uint32_t y = s.nextRow;
        uint8_t* row = out + static_cast<size_t>(i) * plan.stride;
        if (plan.unchanged) {
            std::memcpy(row, s.source + static_cast<size_t>(y) * s.sourceStride, plan.stride);
            continue;
        }
        std::memset(row, 0xFF, plan.stride);
        if (y >= plan.regionHeight) continue;
        if (s.copyBits)
            CopyRegionBits(s, y, row);
        else
            ScaleRow(s, y, row);
    }
    return rows;
}

int ConvertPageRows(const ConversionPlan& plan, const uint8_t* source, uint32_t sourceStride,
                    uint8_t* output) {
    PageScaler s;
    if (!StartPageConversion(plan, source, sourceStride, s)) return 0;
    ConvertPageBand(s, plan.height, output);
    return 1;
}
