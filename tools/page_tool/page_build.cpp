#include "tools/page_tool/page_build.h"

#include <algorithm>
#include <cstring>

#include "imaging/page_bitmap_format.h"
#include "imaging/tiff_reader.h"

namespace {

uint32_t FileRead(void* file, void* buffer, uint32_t count) {
    return static_cast<uint32_t>(std::fread(buffer, 1, count, static_cast<FILE*>(file)));
}

int64_t FileSeek(void* file, uint32_t offset, int origin) {
    auto* f = static_cast<FILE*>(file);
    const int whence = origin == 2 ? SEEK_END : origin == 1 ? SEEK_CUR : SEEK_SET;
    if (std::fseek(f, static_cast<long>(offset), whence) != 0) return -1;
    return std::ftell(f);
}

// Keeps the page's rows and drops what the decoders deliver beyond its height.
struct RowCollector {
    std::vector<uint8_t>* rows;
    size_t filled;
};

void CollectRows(void* context, const uint8_t* bytes, uint32_t count) {
    auto* c = static_cast<RowCollector*>(context);
    const size_t n = std::min<size_t>(count, c->rows->size() - c->filled);
    std::memcpy(c->rows->data() + c->filled, bytes, n);
    c->filled += n;
}

const char* ModeName(DecodeMode mode) {
    switch (mode) {
    case DecodeModeT4OneD: return "T.4 one-dimensional";
    case DecodeModeT4TwoD: return "T.4 two-dimensional";
    case DecodeModeT6: return "T.6";
    case DecodeModeJbig: return "JBIG";
    default: return "unsupported";
    }
}

void PrintPageDescription(const PageDecodeContext& context) {
    const TiffField* fields = context.directory->fields;
    const uint32_t strips = std::min({fields[SlotStripOffsets].count, fields[SlotStripByteCounts].count,
                                      fields[SlotStripRowCounts].count});
    std::printf("width: %u\n", context.width);
    std::printf("height: %u\n", context.height);
    std::printf("resolution: %d x %d dpi\n", context.xResolution, context.yResolution);
    std::printf("compression: %u\n", TiffFieldValue(fields[SlotCompression], 0));
    std::printf("decode mode: %d (%s)\n", context.mode, ModeName(context.mode));
    std::printf("fill order: %u\n", context.fillOrder);
    std::printf("strips: %u\n", strips);
    std::printf("rows per strip: %u\n", TiffFieldValue(fields[SlotStripRowCounts], 0));
}

bool WriteAll(FILE* out, const void* bytes, size_t count) {
    return std::fwrite(bytes, 1, count, out) == count;
}

}  // namespace

bool DecodeDocumentPage(FILE* document, uint32_t page, bool describe, BuiltPage& out) {
    static PageDecodeContext context;   // large: off the stack
    out = BuiltPage{};
    RowCollector collector{&out.rows, 0};
    if (!OpenTiffPage(context, FileRead, FileSeek, document, CollectRows, &collector, page - 1, 0xFF))
        return false;
    if (describe) PrintPageDescription(context);
    out.width = context.width;
    out.height = context.height;
    out.stride = context.bytesPerRow;
    out.xResolution = context.xResolution;
    out.yResolution = context.yResolution;
    // The reader bounds a page's rows (MaxPageBytes); rows no strip covers stay white.
    out.rows.assign(static_cast<size_t>(out.stride) * out.height, 0xFF);
    DecodeTiffPage(context);
    CloseTiffPage(context);
    return true;
}

bool PlanPageBitmap(const BuiltPage& decoded, const ConversionSettings* settings, ConversionPlan& plan) {
    // Without settings: black and white, no change, no fixed size, which leaves the page as is.
    const ConversionSettings asDecoded;
    return PlanPageConversion(decoded.width, decoded.height, decoded.xResolution, decoded.yResolution,
                              settings ? *settings : asDecoded, plan) == 1;
}

bool WritePageBitmap(const char* path, const BuiltPage& decoded, const ConversionPlan& plan) {
    PageBitmapLayout layout;
    PageScaler scaler;
    if (!PlanPageBitmapLayout(plan.width, plan.height, plan.pixelType, layout) ||
        !StartPageConversion(plan, decoded.rows.data(), decoded.stride, scaler))
        return false;
    // Bands of about 256 KiB: the converted page is written as it is made.
    const uint32_t bandRows = std::max<uint32_t>(1, (256 * 1024) / plan.stride);
    std::vector<uint8_t> band(static_cast<size_t>(bandRows) * plan.stride);
    FILE* out = std::fopen(path, "wb");
    if (out == nullptr) return false;
    uint8_t headers[MaxPageBitmapHeaderBytes];
    const uint32_t headerBytes = BuildPageBitmapHeaders(layout, plan.xResolution, plan.yResolution, headers);
    bool written = WriteAll(out, headers, headerBytes);
    while (written) {
        const uint32_t rows = ConvertPageBand(scaler, bandRows, band.data());
        if (rows == 0) break;
        written = WriteAll(out, band.data(), static_cast<size_t>(rows) * plan.stride);
    }
    written = std::fclose(out) == 0 && written;
    if (!written) std::remove(path);
    return written;
}

// PBM rows are ceil(width / 8) bytes with 1 = black: the page's white = 1 rows are inverted and
// their padding dropped.
bool WritePbm(const char* path, const BuiltPage& page) {
    FILE* out = std::fopen(path, "wb");
    if (out == nullptr) return false;
    std::fprintf(out, "P4\n%u %u\n", page.width, page.height);
    const uint32_t rowBytes = (page.width + 7) / 8;
    const auto lastMask = static_cast<uint8_t>(0xFF00 >> (page.width % 8 == 0 ? 8 : page.width % 8));
    std::vector<uint8_t> line(rowBytes);
    bool ok = true;
    for (uint32_t y = 0; y < page.height && ok; ++y) {
        const uint8_t* row = page.rows.data() + static_cast<size_t>(y) * page.stride;
        for (uint32_t b = 0; b < rowBytes; ++b) line[b] = static_cast<uint8_t>(~row[b]);
        line[rowBytes - 1] &= lastMask;
        ok = WriteAll(out, line.data(), rowBytes);
    }
    ok = std::fclose(out) == 0 && ok;
    if (!ok) std::remove(path);
    return ok;
}
