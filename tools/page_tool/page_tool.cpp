// qrvpage <document.tif> <page, from 1> [out.pbm]
// Decodes one page of a document with the source's own reader and decoders, prints what the
// page's directory says, and writes the decoded page as a PBM (P4) file when asked.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

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

void CollectRows(void* context, const uint8_t* bytes, uint32_t count) {
    auto* rows = static_cast<std::vector<uint8_t>*>(context);
    rows->insert(rows->end(), bytes, bytes + count);
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

// PBM rows are ceil(width / 8) bytes with 1 = black: the page's white = 1 rows are inverted and
// their padding dropped.
bool WritePbm(const char* path, const std::vector<uint8_t>& rows, uint32_t width, uint32_t height,
              uint32_t stride) {
    FILE* out = std::fopen(path, "wb");
    if (out == nullptr) return false;
    std::fprintf(out, "P4\n%u %u\n", width, height);
    const uint32_t rowBytes = (width + 7) / 8;
    const auto lastMask = static_cast<uint8_t>(0xFF00 >> (width % 8 == 0 ? 8 : width % 8));
    std::vector<uint8_t> line(rowBytes);
    bool ok = true;
    for (uint32_t y = 0; y < height && ok; ++y) {
        const uint8_t* row = rows.data() + static_cast<size_t>(y) * stride;
        for (uint32_t b = 0; b < rowBytes; ++b) line[b] = static_cast<uint8_t>(~row[b]);
        line[rowBytes - 1] &= lastMask;
        ok = std::fwrite(line.data(), 1, rowBytes, out) == rowBytes;
    }
    return std::fclose(out) == 0 && ok;
}

bool ParsePageNumber(const char* text, uint32_t& page) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (end == text || *end != '\0' || value < 1 || value > 65536 || text[0] == '-') return false;
    page = static_cast<uint32_t>(value);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    uint32_t page = 0;
    if (argc < 3 || argc > 4 || !ParsePageNumber(argv[2], page)) {
        std::fprintf(stderr, "usage: qrvpage <document.tif> <page, from 1> [out.pbm]\n");
        return 2;
    }
    FILE* file = std::fopen(argv[1], "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "qrvpage: cannot open %s\n", argv[1]);
        return 1;
    }
    std::vector<uint8_t> rows;
    static PageDecodeContext context;
    if (!OpenTiffPage(context, FileRead, FileSeek, file, CollectRows, &rows, page - 1, 0xFF)) {
        std::fclose(file);
        std::fprintf(stderr, "qrvpage: page %u of %s cannot be decoded\n", page, argv[1]);
        return 1;
    }
    PrintPageDescription(context);
    DecodeTiffPage(context);
    CloseTiffPage(context);
    std::fclose(file);
    if (argc == 4 && !WritePbm(argv[3], rows, context.width, context.height, context.bytesPerRow)) {
        std::fprintf(stderr, "qrvpage: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
