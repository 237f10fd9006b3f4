#include "tools/qrvbox/image_writers.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "imaging/page_bitmap_format.h"

namespace {

constexpr size_t MaxStoredBlock = 65535;
constexpr uint8_t PngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::array<uint32_t, 256> MakeCrcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

void PutBig32(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value >> 24);
    out[1] = static_cast<uint8_t>(value >> 16);
    out[2] = static_cast<uint8_t>(value >> 8);
    out[3] = static_cast<uint8_t>(value);
}

bool WriteAll(FILE* file, const void* data, size_t length) {
    return length == 0 || std::fwrite(data, 1, length, file) == length;
}

}  // namespace

uint32_t Crc32(uint32_t crc, const uint8_t* bytes, size_t length) {
    static const std::array<uint32_t, 256> Table = MakeCrcTable();
    crc = ~crc;
    for (size_t i = 0; i < length; ++i) crc = Table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

uint32_t Adler32(uint32_t adler, const uint8_t* bytes, size_t length) {
    constexpr uint32_t Base = 65521;
    // 5552 bytes is the most that can be summed before the sums must be reduced.
    uint32_t a = adler & 0xFFFF, b = adler >> 16;
    while (length > 0) {
        const size_t run = length < 5552 ? length : 5552;
        for (size_t i = 0; i < run; ++i) {
            a += bytes[i];
            b += a;
        }
        a %= Base;
        b %= Base;
        bytes += run;
        length -= run;
    }
    return b << 16 | a;
}

// ---- PNG

bool PngWriter::Chunk(const char* type, const uint8_t* data, size_t length) {
    uint8_t head[8];
    PutBig32(head, static_cast<uint32_t>(length));
    std::memcpy(head + 4, type, 4);
    uint8_t tail[4];
    PutBig32(tail, Crc32(Crc32(0, head + 4, 4), data, length));
    return WriteAll(file_, head, 8) && WriteAll(file_, data, length) && WriteAll(file_, tail, 4);
}

bool PngWriter::Begin(FILE* file, const ConversionPlan& plan) {
    if (plan.pixelType != PixelTypeBlackWhite && plan.pixelType != PixelTypeGray) return false;
    file_ = file;
    plan_ = plan;
    const uint8_t depth = plan.pixelType == PixelTypeBlackWhite ? 1 : 8;
    rowBytes_ = depth == 1 ? (plan.width + 7) / 8 : plan.width;
    uint8_t header[13];
    PutBig32(header, plan.width);
    PutBig32(header + 4, plan.height);
    header[8] = depth;
    header[9] = 0;   // grayscale: 0 black, the highest value white, as the page's palette has it
    header[10] = 0;  // deflate
    header[11] = 0;  // adaptive filtering, every row with filter 0
    header[12] = 0;  // not interlaced
    uint8_t physical[9];
    PutBig32(physical, static_cast<uint32_t>(PixelsPerMetre(plan.xResolution)));
    PutBig32(physical + 4, static_cast<uint32_t>(PixelsPerMetre(plan.yResolution)));
    physical[8] = 1;  // per metre
    block_.clear();
    block_.reserve(MaxStoredBlock);
    adler_ = 1;
    headerWritten_ = false;
    return WriteAll(file_, PngSignature, sizeof PngSignature) && Chunk("IHDR", header, sizeof header) &&
           Chunk("pHYs", physical, sizeof physical);
}

// One IDAT chunk: the zlib header before the first block, a stored block, the Adler-32 after
// the last.
bool PngWriter::FlushBlock(bool last) {
    std::vector<uint8_t> data;
    data.reserve(block_.size() + 11);
    if (!headerWritten_) data.insert(data.end(), {0x78, 0x01});
    const auto length = static_cast<uint16_t>(block_.size());
    data.insert(data.end(), {static_cast<uint8_t>(last ? 1 : 0), static_cast<uint8_t>(length & 0xFF),
                             static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(~length & 0xFF),
                             static_cast<uint8_t>((~length >> 8) & 0xFF)});
    data.insert(data.end(), block_.begin(), block_.end());
    adler_ = Adler32(adler_, block_.data(), block_.size());
    if (last) {
        data.resize(data.size() + 4);
        PutBig32(data.data() + data.size() - 4, adler_);
    }
    headerWritten_ = true;
    block_.clear();
    return Chunk("IDAT", data.data(), data.size());
}

bool PngWriter::Append(const uint8_t* data, size_t length) {
    while (length > 0) {
        if (block_.size() == MaxStoredBlock && !FlushBlock(false)) return false;
        const size_t take = std::min(MaxStoredBlock - block_.size(), length);
        block_.insert(block_.end(), data, data + take);
        data += take;
        length -= take;
    }
    return true;
}

// Each row: its filter byte (0, none), then its bytes without the stride's padding.
bool PngWriter::WriteRows(const uint8_t* rows, uint32_t count) {
    static const uint8_t NoFilter = 0;
    for (uint32_t row = 0; row < count; ++row) {
        if (!Append(&NoFilter, 1) || !Append(rows + static_cast<size_t>(row) * plan_.stride, rowBytes_)) return false;
    }
    return true;
}

bool PngWriter::Finish() { return FlushBlock(true) && Chunk("IEND", nullptr, 0); }

// ---- BMP

bool BmpWriter::Begin(FILE* file, const ConversionPlan& plan) {
    PageBitmapLayout layout;
    if (!PlanPageBitmapLayout(plan.width, plan.height, plan.pixelType, layout) || layout.stride != plan.stride)
        return false;
    file_ = file;
    plan_ = plan;
    pixelOffset_ = layout.pixelOffset;
    nextRow_ = 0;
    uint8_t headers[MaxPageBitmapHeaderBytes];
    const uint32_t length = BuildPageBitmapHeaders(layout, plan.xResolution, plan.yResolution, headers);
    return WriteAll(file_, headers, length);
}

// The band goes where its rows lie in a bottom-up file: reversed, at the offset of its last row.
bool BmpWriter::WriteRows(const uint8_t* rows, uint32_t count) {
    if (count == 0) return true;
    if (nextRow_ + count > plan_.height) return false;
    const size_t bytes = static_cast<size_t>(count) * plan_.stride;
    flipped_.assign(rows, rows + bytes);
    FlipPageRows(flipped_.data(), plan_.stride, count);
    const uint64_t offset = pixelOffset_ + static_cast<uint64_t>(plan_.height - nextRow_ - count) * plan_.stride;
    nextRow_ += count;
    return std::fseek(file_, static_cast<long>(offset), SEEK_SET) == 0 && WriteAll(file_, flipped_.data(), bytes);
}

bool BmpWriter::Finish() { return nextRow_ == plan_.height; }
