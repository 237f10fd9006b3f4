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

uint64_t LoadBigEndian64(const uint8_t* p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
    return word;
}

// The output columns each source column reaches (interval arithmetic in units); firstOutput has
// one entry more, for the region's right edge.
bool BuildColumnMap(PageScaler& s) {
    const uint32_t columns = s.plan.sourceWidth;
    s.firstOutput.reset(new (std::nothrow) uint32_t[columns + 1]);
    s.lastOutput.reset(new (std::nothrow) uint32_t[columns]);
    if (!s.firstOutput || !s.lastOutput) return false;
    s.firstOutput[columns] = s.plan.regionWidth;
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

// Sets pixels from to end - 1 of a 1-bit row black (0 bits).
void ClearBits(uint8_t* out, uint32_t from, uint32_t end) {
    const uint32_t firstByte = from / 8, lastByte = (end - 1) / 8;
    const auto head = static_cast<uint8_t>(0xFFu >> (from % 8));
    const auto tail = static_cast<uint8_t>(0xFF00u >> ((end - 1) % 8 + 1));
    if (firstByte == lastByte) {
        out[firstByte] &= static_cast<uint8_t>(~(head & tail));
        return;
    }
    out[firstByte] &= static_cast<uint8_t>(~head);
    std::memset(out + firstByte + 1, 0, lastByte - firstByte - 1);
    out[lastByte] &= static_cast<uint8_t>(~tail);
}

// Sets count bytes. Short stretches, the most common, take two overlapping stores instead of a
// call (a plain loop would be turned into one).
inline void FillBytes(uint8_t* out, uint8_t value, size_t count) {
    if (count > 16) {
        std::memset(out, value, count);
    } else if (count >= 8) {
        const uint64_t bytes = 0x0101010101010101ull * value;
        std::memcpy(out, &bytes, 8);
        std::memcpy(out + count - 8, &bytes, 8);
    } else if (count >= 4) {
        const uint32_t bytes = 0x01010101u * value;
        std::memcpy(out, &bytes, 4);
        std::memcpy(out + count - 4, &bytes, 4);
    } else if (count > 0) {
        out[0] = value;
        out[count / 2] = value;
        out[count - 1] = value;
    }
}

// How output columns of a pixel type are written from their black area. Writing a column with no
// black area writes the white the row starts as.
template <int PixelType>
struct ColumnWriter {
    uint8_t* out;
    const uint8_t* grayOfBlack;  // or none: computed
    uint64_t area;

    uint8_t Gray(uint64_t blackArea) const {
        return grayOfBlack ? grayOfBlack[blackArea] : GrayLevel(blackArea, area);
    }

    void Put(uint32_t x, uint64_t blackArea) const {
        if constexpr (PixelType == PixelTypeBlackWhite) {
            const uint32_t blackBit = 2 * blackArea > area ? 0x80u : 0;
            out[x >> 3] &= static_cast<uint8_t>(~(blackBit >> (x & 7)));
        } else if constexpr (PixelType == PixelTypeGray) {
            out[x] = Gray(blackArea);
        } else {
            const uint8_t gray = Gray(blackArea);
            out[3 * static_cast<size_t>(x)] = gray;
            out[3 * static_cast<size_t>(x) + 1] = gray;
            out[3 * static_cast<size_t>(x) + 2] = gray;
        }
    }

    // Columns from to end - 1, all with the same black area.
    void Fill(uint32_t from, uint32_t end, uint64_t blackArea) const {
        if (from >= end) return;
        if constexpr (PixelType == PixelTypeBlackWhite) {
            if (2 * blackArea > area) ClearBits(out, from, end);
        } else if constexpr (PixelType == PixelTypeGray) {
            FillBytes(out + from, Gray(blackArea), end - from);
        } else {
            FillBytes(out + 3 * static_cast<size_t>(from), Gray(blackArea), 3 * static_cast<size_t>(end - from));
        }
    }
};

// The black pixels 64 k to 64 k + 63 of a source row, the first in the top bit; pixels past the
// region's width count as white. Never reads past the row's stride.
uint64_t BlackBits(const PageScaler& s, const uint8_t* row, uint32_t k) {
    const uint32_t byte = 8 * k;
    uint64_t word;
    if (byte + 8 <= s.sourceStride) {
        word = LoadBigEndian64(row + byte);
    } else {
        uint8_t bytes[8];
        std::memset(bytes, 0xFF, sizeof bytes);
        std::memcpy(bytes, row + byte, s.sourceStride - byte);
        word = LoadBigEndian64(bytes);
    }
    const uint32_t inRegion = s.plan.sourceWidth - 64 * k;
    return inRegion >= 64 ? ~word : ~word & ~(~0ull >> inRegion);
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

// The source rows output row y covers, and how much of each (its weight), into the scaler.
void FindSourceRows(PageScaler& s, uint32_t y) {
    const uint64_t start = y * s.outputUnitsY;
    const uint64_t end = start + s.outputUnitsY;
    s.rowCount = 0;
    for (uint64_t r = start / s.sourceUnitsY; r * s.sourceUnitsY < end; ++r) {
        const uint64_t from = std::max(start, r * s.sourceUnitsY);
        const uint64_t to = std::min(end, (r + 1) * s.sourceUnitsY);
        s.rows[s.rowCount] = {s.source + static_cast<size_t>(r) * s.sourceStride, static_cast<uint32_t>(to - from), 0};
        ++s.rowCount;
    }
}

// The black bits of the source rows of an output row, 64 pixels at a time, and the black weight
// at a pixel: the sum of the weights of the rows black there. Rows is the number of rows when it
// is 1 or 2, the common cases, whose bits are then held in locals; 0 for any number.
template <int Rows>
struct RowWords {
    PageScalerRow* rows;
    uint32_t count;
    uint64_t bits[Rows > 0 ? Rows : 1] = {};
    uint32_t weight[Rows > 0 ? Rows : 1] = {};

    explicit RowWords(PageScaler& s) : rows(s.rows.get()), count(s.rowCount) {
        for (uint32_t i = 0; i < count; ++i) rows[i].bits = 0;
        for (int i = 0; i < Rows; ++i) weight[i] = rows[i].weight;
    }

    // Reads word k of every row; returns where any row changes colour within it.
    uint64_t Read(const PageScaler& s, uint32_t k) {
        uint64_t changes = 0;
        if constexpr (Rows > 0) {
            for (int i = 0; i < Rows; ++i) {
                const uint64_t word = BlackBits(s, rows[i].at, k);
                changes |= word ^ (word >> 1 | bits[i] << 63);  // the pixel before: the last word's lowest bit
                bits[i] = word;
            }
        } else {
            for (uint32_t i = 0; i < count; ++i) {
                const uint64_t word = BlackBits(s, rows[i].at, k);
                changes |= word ^ (word >> 1 | rows[i].bits << 63);
                rows[i].bits = word;
            }
        }
        return changes;
    }

    uint32_t WeightAt(int bit) const {
        const int shift = 63 - bit;
        uint32_t sum = 0;
        if constexpr (Rows > 0) {
            for (int i = 0; i < Rows; ++i) sum += weight[i] * static_cast<uint32_t>(bits[i] >> shift & 1);
        } else {
            for (uint32_t i = 0; i < count; ++i) sum += rows[i].weight * static_cast<uint32_t>(rows[i].bits >> shift & 1);
        }
        return sum;
    }
};

// Output row y of the region, scaled from the source rows it covers. The rows are walked together
// 64 pixels at a time; wherever one of them changes colour a stretch of the same black weight
// ends. A stretch adds its part to the output column open at its start, fills the columns that lie
// wholly inside it with one level (no area summed per column), and leaves the column at its end
// open for the next. Work follows the changes, not the width.
template <int PixelType, int Rows>
void SweepRow(PageScaler& s, uint8_t* out) {
    RowWords<Rows> words(s);
    const ColumnWriter<PixelType> writer{out, s.grayOfBlack.get(), s.area};
    const uint32_t* firstOutput = s.firstOutput.get();
    const uint32_t* lastOutput = s.lastOutput.get();
    const uint64_t sourceUnits = s.sourceUnitsX;
    const uint64_t outputUnits = s.outputUnitsX;
    const uint32_t wordCount = (s.plan.sourceWidth + 63) / 64;
    uint32_t x = 0;           // the open output column, which holds the stretch's start
    uint64_t blackArea = 0;   // in it so far
    uint64_t from = 0;        // the stretch's start, in units
    uint32_t weight = 0;      // and its black weight
    // Ends the stretch at source column end.
    const auto endStretch = [&](uint32_t end) {
        const uint64_t to = end * sourceUnits;
        if (weight == 0) {
            const uint32_t next = firstOutput[end];
            if (next != x) {
                writer.Put(x, blackArea);
                x = next;
                blackArea = 0;
            }
            return;
        }
        const uint32_t last = lastOutput[end - 1];
        if (last == x) {
            blackArea += weight * (to - from);
            return;
        }
        writer.Put(x, blackArea + weight * ((x + 1) * outputUnits - from));
        writer.Fill(x + 1, last, weight * outputUnits);
        x = last;
        blackArea = weight * (to - last * outputUnits);
    };
    for (uint32_t k = 0; k < wordCount; ++k) {
        uint64_t changes = words.Read(s, k);
        while (changes != 0) {
            const int bit = std::countl_zero(changes);
            changes &= ~(1ull << (63 - bit));
            const uint32_t at = 64 * k + static_cast<uint32_t>(bit);
            endStretch(at);
            from = at * sourceUnits;
            weight = words.WeightAt(bit);
        }
    }
    if (weight != 0) endStretch(s.plan.sourceWidth);
    if (x < s.plan.regionWidth) writer.Put(x, blackArea);
}

template <int PixelType>
void SweepRowOf(PageScaler& s, uint8_t* out) {
    switch (s.rowCount) {
    case 1: SweepRow<PixelType, 1>(s, out); break;
    case 2: SweepRow<PixelType, 2>(s, out); break;
    default: SweepRow<PixelType, 0>(s, out);
    }
}

void ScaleRow(PageScaler& s, uint32_t y, uint8_t* out) {
    FindSourceRows(s, y);
    switch (s.plan.pixelType) {
    case PixelTypeBlackWhite: SweepRowOf<PixelTypeBlackWhite>(s, out); break;
    case PixelTypeGray: SweepRowOf<PixelTypeGray>(s, out); break;
    default: SweepRowOf<PixelTypeRgb>(s, out);
    }
}

// Output rows y - 1 and y lie within one source row: they are the same.
bool SameAsRowBefore(const PageScaler& s, uint32_t y) {
    if (y == 0) return false;
    const uint64_t row = static_cast<uint64_t>(y - 1) * s.outputUnitsY / s.sourceUnitsY;
    return (static_cast<uint64_t>(y + 1) * s.outputUnitsY - 1) / s.sourceUnitsY == row;
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
    // An output row covers at most this many source rows.
    s.rows.reset(new (std::nothrow) PageScalerRow[s.outputUnitsY / s.sourceUnitsY + 2]);
    if (!s.rows || !BuildColumnMap(s) || !BuildGrayTable(s)) return 0;
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
        if (y < plan.regionHeight && !s.copyBits && i > 0 && SameAsRowBefore(s, y)) {
            std::memcpy(row, row - plan.stride, plan.stride);
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
