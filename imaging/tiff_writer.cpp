// The image data is coded into memory first: the header at the start of the file points at the
// directory, which follows the data, and the directory needs the strips' sizes.
#include "imaging/tiff_writer.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "imaging/fax_encoder.h"

namespace {

// TIFF's recommendation for the uncompressed size of a strip.
constexpr uint32_t StripTargetBytes = 8 * 1024;
constexpr uint64_t MaxFileBytes = 0xFFFFFFFFu;

enum FieldType : uint16_t { TypeShort = 3, TypeLong = 4, TypeRational = 5 };
enum Tag : uint16_t {
    TagNewSubfileType = 254,
    TagImageWidth = 256,
    TagImageLength = 257,
    TagBitsPerSample = 258,
    TagCompression = 259,
    TagPhotometric = 262,
    TagStripOffsets = 273,
    TagOrientation = 274,
    TagSamplesPerPixel = 277,
    TagRowsPerStrip = 278,
    TagStripByteCounts = 279,
    TagXResolution = 282,
    TagYResolution = 283,
    TagPlanarConfiguration = 284,
    TagT6Options = 293,
    TagResolutionUnit = 296,
};
constexpr uint16_t CompressionT6 = 4;
constexpr uint16_t CompressionPackBits = 32773;
constexpr uint16_t PhotometricWhiteIsZero = 0;
constexpr uint16_t PhotometricBlackIsZero = 1;
constexpr uint16_t PhotometricRgb = 2;
constexpr uint16_t ResolutionUnitInch = 2;

// A growing block of bytes; the write operation of the image data.
struct ByteBuffer {
    uint8_t* data = nullptr;
    size_t size = 0;
    size_t capacity = 0;
};

// Sizes are reckoned in 64 bits: the file's limit lies beyond what a 32-bit size can add up to.
bool Reserve(ByteBuffer& buffer, uint64_t more)
{
    const uint64_t needed = uint64_t(buffer.size) + more;
    if (needed <= buffer.capacity)
        return true;
    if (needed > MaxFileBytes || needed > SIZE_MAX)
        return false;
    uint64_t capacity = buffer.capacity ? buffer.capacity : 64 * 1024;
    while (capacity < needed)
        capacity *= 2;
    if (capacity > SIZE_MAX)
        capacity = needed;
    auto* data = static_cast<uint8_t*>(std::realloc(buffer.data, static_cast<size_t>(capacity)));
    if (!data)
        return false;
    buffer.data = data;
    buffer.capacity = static_cast<size_t>(capacity);
    return true;
}

uint32_t AppendBytes(void* target, const void* bytes, uint32_t count)
{
    auto& buffer = *static_cast<ByteBuffer*>(target);
    if (!Reserve(buffer, count))
        return 0;
    std::memcpy(buffer.data + buffer.size, bytes, count);
    buffer.size += count;
    return count;
}

// One row in PackBits: runs of 2 to 128 equal bytes as a count byte 1 - n and the byte, the bytes
// between them as a count byte n - 1 and up to 128 bytes. Rows are coded separately, as TIFF asks.
bool PackBitsRow(const uint8_t* row, uint32_t count, ByteBuffer& out)
{
    if (!Reserve(out, uint64_t(count) + (uint64_t(count) + 127) / 128))
        return false;
    uint8_t* to = out.data + out.size;
    uint32_t at = 0;
    while (at < count) {
        uint32_t end = at + 1;
        while (end < count && end - at < 128 && row[end] == row[at])
            ++end;
        if (end - at >= 2) {
            *to++ = static_cast<uint8_t>(1 - int(end - at));
            *to++ = row[at];
            at = end;
            continue;
        }
        // Bytes taken as they are, up to a run of three that pays for its own count byte.
        uint32_t start = at;
        while (at < count && at - start < 128 &&
               !(at + 2 < count && row[at] == row[at + 1] && row[at] == row[at + 2]))
            ++at;
        *to++ = static_cast<uint8_t>(at - start - 1);
        std::memcpy(to, row + start, at - start);
        to += at - start;
    }
    out.size = static_cast<size_t>(to - out.data);
    return true;
}

// Where the strips lie inside the image data.
struct StripTable {
    uint32_t* offsets = nullptr;  // from the start of the image data
    uint32_t* counts = nullptr;
    uint32_t strips = 0;
    uint32_t rowsPerStrip = 0;
};

bool AllocateStrips(StripTable& table, uint32_t strips)
{
    table.strips = strips;
    table.offsets = static_cast<uint32_t*>(std::malloc(size_t(strips) * 4));
    table.counts = static_cast<uint32_t*>(std::malloc(size_t(strips) * 4));
    return table.offsets && table.counts;
}

bool CodeBilevel(const TiffPageRows& page, ByteBuffer& data, StripTable& table)
{
    if (!AllocateStrips(table, 1))
        return false;
    table.rowsPerStrip = page.height;
    table.offsets[0] = 0;
    uint64_t bytes = EncodeT6(page.rows, page.stride, page.width, page.height, page.white, AppendBytes, &data);
    table.counts[0] = static_cast<uint32_t>(bytes);
    return bytes > 0;
}

// Gray and colour rows in PackBits strips; colour goes out as red, green, blue.
bool CodeContone(const TiffPageRows& page, uint32_t rowBytes, ByteBuffer& data, StripTable& table)
{
    table.rowsPerStrip = rowBytes >= StripTargetBytes ? 1 : StripTargetBytes / rowBytes;
    if (table.rowsPerStrip > page.height)
        table.rowsPerStrip = page.height;
    if (!AllocateStrips(table, (page.height + table.rowsPerStrip - 1) / table.rowsPerStrip))
        return false;
    uint8_t* swapped = nullptr;
    if (page.bitsPerPixel == 24 && !(swapped = static_cast<uint8_t*>(std::malloc(rowBytes))))
        return false;
    bool coded = true;
    for (uint32_t y = 0; y < page.height && coded; ++y) {
        const uint32_t strip = y / table.rowsPerStrip;
        if (y % table.rowsPerStrip == 0)
            table.offsets[strip] = static_cast<uint32_t>(data.size);
        const uint8_t* row = page.rows + size_t(y) * page.stride;
        if (swapped) {
            for (uint32_t x = 0; x < rowBytes; x += 3) {
                swapped[x] = row[x + 2];
                swapped[x + 1] = row[x + 1];
                swapped[x + 2] = row[x];
            }
            row = swapped;
        }
        coded = PackBitsRow(row, rowBytes, data);
        table.counts[strip] = static_cast<uint32_t>(data.size) - table.offsets[strip];
    }
    std::free(swapped);
    return coded;
}

void Put16(uint8_t* at, uint32_t value)
{
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void Put32(uint8_t* at, uint32_t value)
{
    Put16(at, value);
    Put16(at + 2, value >> 16);
}

// The directory under construction, its entries in tag order; the values that do not fit an
// entry follow it.
constexpr uint16_t DirectoryEntries = 15;
struct Directory {
    uint8_t bytes[2 + DirectoryEntries * 12 + 4] = {};
    uint16_t entries = 0;
};

void AddEntry(Directory& directory, uint16_t tag, uint16_t type, uint32_t count, uint32_t value)
{
    uint8_t* entry = directory.bytes + 2 + 12 * directory.entries++;
    Put16(entry, tag);
    Put16(entry + 2, type);
    Put32(entry + 4, count);
    if (type == TypeShort && count == 1)
        Put16(entry + 8, value);
    else
        Put32(entry + 8, value);
}

bool WriteAll(WriteOp write, void* file, const void* bytes, uint64_t count)
{
    const auto* from = static_cast<const uint8_t*>(bytes);
    while (count > 0) {
        const uint32_t piece = count > 0x40000000u ? 0x40000000u : static_cast<uint32_t>(count);
        if (write(file, from, piece) != piece)
            return false;
        from += piece;
        count -= piece;
    }
    return true;
}

bool WriteTiffFile(const TiffPageRows& page, const ByteBuffer& data, const StripTable& table, WriteOp write, void* file)
{
    const bool colour = page.bitsPerPixel == 24;
    const bool bilevel = page.bitsPerPixel == 1;
    const uint32_t padding = data.size % 2;
    const uint64_t directoryAt = 8 + uint64_t(data.size) + padding;
    const uint64_t extraAt = directoryAt + 2 + 12 * uint64_t(DirectoryEntries) + 4;
    const uint64_t bitsAt = extraAt;
    const uint64_t resolutionAt = bitsAt + (colour ? 6 : 0);
    const uint64_t offsetsAt = resolutionAt + 16;
    const uint64_t arrayBytes = table.strips > 1 ? 4 * uint64_t(table.strips) : 0;
    const uint64_t countsAt = offsetsAt + arrayBytes;
    if (countsAt + arrayBytes > MaxFileBytes)
        return false;

    uint8_t header[8] = {'I', 'I', 42, 0};
    Put32(header + 4, static_cast<uint32_t>(directoryAt));
    const uint8_t zero = 0;
    if (!WriteAll(write, file, header, sizeof header) || !WriteAll(write, file, data.data, data.size) ||
        !WriteAll(write, file, &zero, padding))
        return false;

    Directory directory;
    AddEntry(directory, TagNewSubfileType, TypeLong, 1, 0);
    AddEntry(directory, TagImageWidth, TypeLong, 1, page.width);
    AddEntry(directory, TagImageLength, TypeLong, 1, page.height);
    AddEntry(directory, TagBitsPerSample, TypeShort, colour ? 3 : 1,
             colour ? static_cast<uint32_t>(bitsAt) : page.bitsPerPixel);
    AddEntry(directory, TagCompression, TypeShort, 1, bilevel ? CompressionT6 : CompressionPackBits);
    AddEntry(directory, TagPhotometric, TypeShort, 1,
             bilevel ? PhotometricWhiteIsZero : colour ? PhotometricRgb : PhotometricBlackIsZero);
    const uint32_t first = static_cast<uint32_t>(8 + uint64_t(table.offsets[0]));
    AddEntry(directory, TagStripOffsets, TypeLong, table.strips,
             table.strips > 1 ? static_cast<uint32_t>(offsetsAt) : first);
    AddEntry(directory, TagOrientation, TypeShort, 1, 1);
    AddEntry(directory, TagSamplesPerPixel, TypeShort, 1, colour ? 3 : 1);
    AddEntry(directory, TagRowsPerStrip, TypeLong, 1, table.rowsPerStrip);
    AddEntry(directory, TagStripByteCounts, TypeLong, table.strips,
             table.strips > 1 ? static_cast<uint32_t>(countsAt) : table.counts[0]);
    AddEntry(directory, TagXResolution, TypeRational, 1, static_cast<uint32_t>(resolutionAt));
    AddEntry(directory, TagYResolution, TypeRational, 1, static_cast<uint32_t>(resolutionAt + 8));
    if (bilevel)
        AddEntry(directory, TagT6Options, TypeLong, 1, 0);
    else
        AddEntry(directory, TagPlanarConfiguration, TypeShort, 1, 1);
    AddEntry(directory, TagResolutionUnit, TypeShort, 1, ResolutionUnitInch);
    Put16(directory.bytes, directory.entries);
    // The next directory's offset stays 0: one page.
    const uint32_t directoryBytes = 2 + 12u * directory.entries + 4;
    if (directory.entries != DirectoryEntries || !WriteAll(write, file, directory.bytes, directoryBytes))
        return false;

    uint8_t extra[6 + 16];
    uint32_t extraBytes = 0;
    if (colour) {
        for (int i = 0; i < 3; ++i)
            Put16(extra + 2 * i, 8);
        extraBytes = 6;
    }
    Put32(extra + extraBytes, page.xDpi);
    Put32(extra + extraBytes + 4, 1);
    Put32(extra + extraBytes + 8, page.yDpi);
    Put32(extra + extraBytes + 12, 1);
    extraBytes += 16;
    if (!WriteAll(write, file, extra, extraBytes))
        return false;
    if (table.strips == 1)
        return true;
    // The strip tables, in pieces of a small buffer.
    uint8_t piece[4 * 256];
    for (int pass = 0; pass < 2; ++pass) {
        const uint32_t* values = pass == 0 ? table.offsets : table.counts;
        const uint32_t base = pass == 0 ? 8 : 0;
        for (uint32_t i = 0; i < table.strips; i += 256) {
            const uint32_t n = table.strips - i < 256 ? table.strips - i : 256;
            for (uint32_t k = 0; k < n; ++k)
                Put32(piece + 4 * k, values[i + k] + base);
            if (!WriteAll(write, file, piece, 4 * n))
                return false;
        }
    }
    return true;
}

}  // namespace

int WriteTiffPage(const TiffPageRows& page, WriteOp write, void* file)
{
    const uint16_t bits = page.bitsPerPixel;
    if ((bits != 1 && bits != 8 && bits != 24) || !page.rows || page.width == 0 || page.height == 0 ||
        page.xDpi == 0 || page.yDpi == 0)
        return 0;
    const uint64_t rowBytes = bits == 1 ? (uint64_t(page.width) + 7) / 8 : uint64_t(page.width) * (bits / 8);
    if (page.stride < rowBytes)
        return 0;
    ByteBuffer data;
    StripTable table;
    bool written = bits == 1 ? CodeBilevel(page, data, table)
                             : CodeContone(page, static_cast<uint32_t>(rowBytes), data, table);
    written = written && WriteTiffFile(page, data, table, write, file);
    std::free(data.data);
    std::free(table.offsets);
    std::free(table.counts);
    return written ? 1 : 0;
}
