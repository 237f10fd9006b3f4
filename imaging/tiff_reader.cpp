#include "imaging/tiff_reader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_set>

#include "imaging/jbig_decoder.h"

namespace {

// The reader's settings, written by each header read. Only one document is read at a time.
struct TiffReaderState {
    bool bigEndian = false;
    uint32_t fileSize = 0;
    // Bytes that directories and their values may still take in one search. A file's own
    // directories never need more than the file twice over: directories that overlap and read
    // the same bytes again and again run out and end the search.
    uint64_t readBudget = 0;
};
TiffReaderState Reader;

constexpr uint64_t ExtraReadBudget = 64 * 1024;

struct SlotDefault {
    uint16_t tag;
    uint16_t elementSize;
    uint32_t count;
    uint32_t value;
};

// The 19 slots in table order with the values a page has when its file leaves a tag out.
constexpr SlotDefault SlotDefaults[TiffSlotCount] = {
    {254, 4, 1, 0xFFFFFFFF},              // NewSubfileType
    {256, 4, 1, 0xFFFFFFFF},              // ImageWidth
    {257, 4, 1, 0xFFFFFFFF},              // ImageLength
    {258, 2, 1, 1},                       // BitsPerSample
    {259, 2, 1, 0xFFFF},                  // Compression
    {262, 2, 1, 0xFFFF},                  // PhotometricInterpretation
    {266, 2, 1, 1},                       // FillOrder
    {273, 4, 1, 0xFFFFFFFF},              // StripOffsets
    {274, 2, 1, 1},                       // Orientation
    {277, 2, 1, 1},                       // SamplesPerPixel
    {278, 4, 1, 0xFFFFFFFF},              // RowsPerStrip
    {279, 4, 1, 0xFFFFFFFF},              // StripByteCounts
    {282, 8, 0, 0},                       // XResolution: required, none by default
    {283, 8, 0, 0},                       // YResolution: required, none by default
    {292, 4, 1, 0xFFFFFFFF},              // T4Options: bit 0 set, two-dimensional
    {293, 4, 1, 0xFFFFFFFF},              // T6Options
    {296, 2, 1, 2},                       // ResolutionUnit: inch
    {297, 2, 2, 0 | (1u << 16)},          // PageNumber: page 0 of 1
    {559, 4, 1, 0xFFFFFFFF},              // StripRowCounts
};

uint16_t Host16(const uint8_t* p) {
    return Reader.bigEndian ? static_cast<uint16_t>(p[0] << 8 | p[1])
                            : static_cast<uint16_t>(p[1] << 8 | p[0]);
}

uint32_t Host32(const uint8_t* p) {
    return Reader.bigEndian
               ? static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]
               : static_cast<uint32_t>(p[3]) << 24 | p[2] << 16 | p[1] << 8 | p[0];
}

uint16_t ElementSizeOfType(uint16_t type) {
    if (type == 5) return 8;   // RATIONAL
    if (type == 3) return 2;   // SHORT
    return 4;
}

uint64_t FieldBytes(const TiffField& field) {
    return static_cast<uint64_t>(field.elementSize) * field.count;
}

bool ReadExactly(ReadOp read, void* file, void* buffer, uint32_t count) {
    return read(file, buffer, count) == count;
}

void ReleaseFieldArray(TiffField& field) {
    std::free(field.array);
    field.array = nullptr;
}

void SetInlineLong(TiffField& field, uint32_t value) {
    ReleaseFieldArray(field);
    field.elementSize = 4;
    field.count = 1;
    field.value = value;
}

void SetDefaults(TiffDirectory& directory) {
    for (int i = 0; i < TiffSlotCount; ++i) {
        TiffField& field = directory.fields[i];
        field.tag = SlotDefaults[i].tag;
        field.elementSize = SlotDefaults[i].elementSize;
        field.count = SlotDefaults[i].count;
        field.value = SlotDefaults[i].value;
        field.array = nullptr;
    }
    directory.nextOffset = 0;
}

int SlotOfTag(uint16_t tag) {
    for (int i = 0; i < TiffSlotCount; ++i) {
        if (SlotDefaults[i].tag == tag) return i;
    }
    return -1;
}

// An out-of-line value: read from its offset and converted element by element. It must lie
// within the file, which also bounds the memory a claimed count can take.
bool ReadFieldArray(TiffField& field, uint32_t offset, ReadOp read, SeekOp seek, void* file) {
    const uint64_t bytes = FieldBytes(field);
    if (offset > Reader.fileSize || bytes > Reader.fileSize - offset) return false;
    if (bytes > Reader.readBudget) return false;
    Reader.readBudget -= bytes;
    auto* array = static_cast<uint8_t*>(std::malloc(bytes));
    if (array == nullptr) return false;
    if (seek(file, offset, 0) != offset || !ReadExactly(read, file, array, static_cast<uint32_t>(bytes))) {
        std::free(array);
        return false;
    }
    if (field.elementSize == 2) {
        for (uint64_t i = 0; i < bytes; i += 2) {
            const uint16_t v = Host16(array + i);
            std::memcpy(array + i, &v, 2);
        }
    } else {
        // LONG elements, and RATIONAL ones as two LONGs (numerator, denominator).
        for (uint64_t i = 0; i < bytes; i += 4) {
            const uint32_t v = Host32(array + i);
            std::memcpy(array + i, &v, 4);
        }
    }
    field.array = array;
    return true;
}

void StoreInlineValue(TiffField& field, const uint8_t* valueField) {
    const uint64_t bytes = FieldBytes(field);
    if (bytes == 0) {
        field.value = 0;
    } else if (field.elementSize == 2 && field.count == 2) {
        field.value = Host16(valueField) | static_cast<uint32_t>(Host16(valueField + 2)) << 16;
    } else if (bytes <= 2) {
        field.value = Host16(valueField);
    } else {
        field.value = Host32(valueField);
    }
}

// Resolution of one axis in dots per inch. Integer types are taken as whole values.
bool ResolutionInDpi(const TiffField& field, bool centimetres, uint32_t& dpi) {
    if (field.count == 0) return false;
    uint64_t numerator = TiffFieldValue(field, 0);
    uint64_t denominator = field.elementSize == 8 ? TiffFieldValue(field, 1) : 1;
    if (denominator == 0) return false;
    if (centimetres) numerator = numerator * 254 / 100;
    const uint64_t value = numerator / denominator;
    // The resolutions travel as 16-bit signed values; 0 would divide by zero when converting.
    if (value < 1 || value > 32767) return false;
    dpi = static_cast<uint32_t>(value);
    return true;
}

bool NormaliseResolutions(TiffDirectory& directory) {
    TiffField* fields = directory.fields;
    const bool centimetres = TiffFieldValue(fields[SlotResolutionUnit], 0) == 3;
    uint32_t x = 0;
    uint32_t y = 0;
    if (!ResolutionInDpi(fields[SlotXResolution], centimetres, x)) return false;
    if (!ResolutionInDpi(fields[SlotYResolution], centimetres, y)) return false;
    SetInlineLong(fields[SlotXResolution], x);
    SetInlineLong(fields[SlotYResolution], y);
    fields[SlotResolutionUnit].elementSize = 2;
    fields[SlotResolutionUnit].count = 1;
    fields[SlotResolutionUnit].value = 2;
    return true;
}

// Every strip gets a row count: RowsPerStrip for each when given, else the file's StripRowCounts,
// else the whole page in one strip (the TIFF default).
bool FillStripRowCounts(TiffDirectory& directory) {
    TiffField* fields = directory.fields;
    TiffField& rowCounts = fields[SlotStripRowCounts];
    const uint32_t rowsPerStrip = TiffFieldValue(fields[SlotRowsPerStrip], 0);
    const bool given = fields[SlotRowsPerStrip].count > 0 && (rowsPerStrip & 0xFFFF) != 0xFFFF;
    if (given) {
        const uint32_t strips = fields[SlotStripOffsets].count;
        if (strips <= 1) {
            SetInlineLong(rowCounts, rowsPerStrip);
            return true;
        }
        // StripOffsets lies within the file, so the table is bounded by the file's size.
        auto* table = static_cast<uint32_t*>(std::malloc(static_cast<size_t>(strips) * 4));
        if (table == nullptr) return false;
        std::fill(table, table + strips, rowsPerStrip);
        ReleaseFieldArray(rowCounts);
        rowCounts.elementSize = 4;
        rowCounts.count = strips;
        rowCounts.array = reinterpret_cast<uint8_t*>(table);
        return true;
    }
    if (rowCounts.count == 1 && TiffFieldValue(rowCounts, 0) == 0xFFFFFFFF) {
        SetInlineLong(rowCounts, TiffFieldValue(fields[SlotImageLength], 0));
    }
    return true;
}

uint64_t StrideOf(uint64_t width) {
    return (width + 31) / 32 * 4;
}

bool PageFitsMemory(const TiffDirectory& directory) {
    const uint64_t width = TiffFieldValue(directory.fields[SlotImageWidth], 0);
    const uint64_t height = TiffFieldValue(directory.fields[SlotImageLength], 0);
    if (width == 0 || height == 0) return false;
    return StrideOf(width) * height <= MaxPageBytes;
}

bool RememberDirectory(std::unordered_set<uint32_t>& visited, uint32_t offset) {
    try {
        return visited.insert(offset).second;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// Forwards a decoder's rows to the caller's sink, counting them so that the page keeps its rows
// in place whatever a strip delivers.
void ForwardRows(void* context, const uint8_t* bytes, uint32_t count) {
    DeliverRows(*static_cast<PageDecodeContext*>(context), bytes, count);
}

// Pads what the page has received to at least target bytes, in whole rows.
void PadTo(PageDecodeContext& context, uint64_t target) {
    if (context.bytesDelivered >= target) return;
    const uint64_t missing = target - context.bytesDelivered;
    DeliverBackgroundRows(context, static_cast<uint32_t>((missing + context.bytesPerRow - 1) / context.bytesPerRow));
}

void DecodeStrip(PageDecodeContext& context, uint32_t offset, uint32_t byteCount, uint32_t rows) {
    // A strip past the file's end, or the part of it that is, has no data: its rows stay white.
    if (offset >= context.fileSize) return;
    byteCount = std::min(byteCount, context.fileSize - offset);
    if (byteCount == 0 || context.seek(context.file, offset, 0) != offset) return;
    if (context.mode == DecodeModeJbig) {
        DecodeJbigStrip(context, byteCount, rows);
        return;
    }
    InitFaxDecoder(context.fax, context.width, context.bytesPerRow, byteCount, context.fillOrder,
                   context.mode, context.background, context.read, context.file, ForwardRows,
                   &context);
    DecodeFaxRows(context.fax, rows);
    ReleaseFaxDecoder(context.fax);
}

}  // namespace

uint32_t TiffFieldValue(const TiffField& field, uint32_t index) {
    // A RATIONAL counts as two 32-bit elements, numerator first.
    const uint64_t elements = field.elementSize == 8 ? 2 * static_cast<uint64_t>(field.count) : field.count;
    if (index >= elements) return 0;
    if (FieldBytes(field) <= 4) {
        if (field.elementSize == 2) return index == 0 ? field.value & 0xFFFF : field.value >> 16;
        return field.value;
    }
    if (field.elementSize == 2) {
        uint16_t v;
        std::memcpy(&v, field.array + 2 * static_cast<size_t>(index), 2);
        return v;
    }
    uint32_t v;
    std::memcpy(&v, field.array + 4 * static_cast<size_t>(index), 4);
    return v;
}

int ReadTiffHeader(ReadOp read, SeekOp seek, void* file, uint32_t& firstDirectoryOffset) {
    const int64_t size = seek(file, 0, 2);
    if (size < 0 || seek(file, 0, 0) != 0) return 0;
    uint8_t header[8];
    if (!ReadExactly(read, file, header, sizeof header)) return 0;
    Reader.bigEndian = header[0] == 'M' && header[1] == 'M';
    Reader.fileSize = static_cast<uint32_t>(std::min<int64_t>(size, 0xFFFFFFFF));
    Reader.readBudget = 2 * static_cast<uint64_t>(Reader.fileSize) + ExtraReadBudget;
    firstDirectoryOffset = Host32(header + 4);
    return 1;
}

TiffDirectory* ReadTiffDirectory(ReadOp read, SeekOp seek, void* file) {
    uint8_t countBytes[2];
    if (!ReadExactly(read, file, countBytes, 2)) return nullptr;
    const uint32_t entryCount = Host16(countBytes);
    const uint32_t rawBytes = entryCount * 12;
    if (rawBytes + 6 > Reader.readBudget) return nullptr;
    Reader.readBudget -= rawBytes + 6;

    auto* raw = static_cast<uint8_t*>(std::malloc(std::max<uint32_t>(rawBytes, 1)));
    auto* directory = new (std::nothrow) TiffDirectory;
    if (raw == nullptr || directory == nullptr) {
        std::free(raw);
        delete directory;
        return nullptr;
    }
    SetDefaults(*directory);

    uint8_t next[4];
    bool ok = ReadExactly(read, file, raw, rawBytes) && ReadExactly(read, file, next, 4);
    if (ok) directory->nextOffset = Host32(next);

    for (uint32_t i = 0; ok && i < entryCount; ++i) {
        const uint8_t* entry = raw + 12 * static_cast<size_t>(i);
        const int slot = SlotOfTag(Host16(entry));
        if (slot < 0) continue;
        TiffField& field = directory->fields[slot];
        ReleaseFieldArray(field);   // a repeated tag replaces the earlier entry
        field.elementSize = ElementSizeOfType(Host16(entry + 2));
        field.count = Host32(entry + 4);
        field.value = 0;
        if (FieldBytes(field) > 4) {
            ok = ReadFieldArray(field, Host32(entry + 8), read, seek, file);
        } else {
            StoreInlineValue(field, entry + 8);
        }
    }
    std::free(raw);
    if (!ok) {
        FreeTiffDirectory(directory);
        return nullptr;
    }
    return directory;
}

void FreeTiffDirectory(TiffDirectory* directory) {
    if (directory == nullptr) return;
    for (TiffField& field : directory->fields) ReleaseFieldArray(field);
    delete directory;
}

TiffDirectory* FindTiffPage(ReadOp read, SeekOp seek, void* file, uint32_t pageIndex) {
    uint32_t offset = 0;
    if (!ReadTiffHeader(read, seek, file, offset)) return nullptr;
    TiffDirectory* directory = nullptr;
    // A chain that points back at a directory already read ends there.
    std::unordered_set<uint32_t> visited;
    for (uint32_t ordinal = 0;; ++ordinal) {
        if (offset == 0 || !RememberDirectory(visited, offset)) return nullptr;
        if (seek(file, offset, 0) != offset) return nullptr;
        directory = ReadTiffDirectory(read, seek, file);
        if (directory == nullptr) return nullptr;
        if (TiffFieldValue(directory->fields[SlotPageNumber], 0) == pageIndex || ordinal == pageIndex) break;
        offset = directory->nextOffset;
        FreeTiffDirectory(directory);
    }
    if (!NormaliseResolutions(*directory) || !FillStripRowCounts(*directory) ||
        !PageFitsMemory(*directory)) {
        FreeTiffDirectory(directory);
        return nullptr;
    }
    return directory;
}

DecodeMode ChooseDecodeMode(const TiffDirectory& directory) {
    switch (TiffFieldValue(directory.fields[SlotCompression], 0)) {
    case 3:
        return (TiffFieldValue(directory.fields[SlotT4Options], 0) & 1) ? DecodeModeT4TwoD
                                                                         : DecodeModeT4OneD;
    case 4:
        return DecodeModeT6;
    case 9:
        return DecodeModeJbig;
    default:
        return DecodeModeUnsupported;
    }
}

int OpenTiffPage(PageDecodeContext& context, ReadOp read, SeekOp seek, void* file, RowSink sink,
                 void* sinkContext, uint32_t pageIndex, uint8_t background) {
    context.directory = nullptr;
    TiffDirectory* directory = FindTiffPage(read, seek, file, pageIndex);
    if (directory == nullptr) return 0;
    const TiffField* fields = directory->fields;
    const DecodeMode mode = ChooseDecodeMode(*directory);
    const uint32_t width = TiffFieldValue(fields[SlotImageWidth], 0);
    // The fax decoder's reference row bounds the width of fax pages.
    if (mode == DecodeModeUnsupported || (mode != DecodeModeJbig && width > FaxMaxWidth)) {
        FreeTiffDirectory(directory);
        return 0;
    }
    context.mode = mode;
    context.xResolution = static_cast<int16_t>(TiffFieldValue(fields[SlotXResolution], 0));
    context.yResolution = static_cast<int16_t>(TiffFieldValue(fields[SlotYResolution], 0));
    context.width = width;
    context.bytesPerRow = static_cast<uint32_t>(StrideOf(width));
    context.height = TiffFieldValue(fields[SlotImageLength], 0);
    context.fillOrder = static_cast<uint16_t>(TiffFieldValue(fields[SlotFillOrder], 0));
    context.photometric = static_cast<uint16_t>(TiffFieldValue(fields[SlotPhotometric], 0));
    context.background = background;
    context.read = read;
    context.seek = seek;
    context.file = file;
    context.fileSize = Reader.fileSize;
    context.sink = sink;
    context.sinkContext = sinkContext;
    context.bytesDelivered = 0;
    context.directory = directory;
    return 1;
}

int DecodeTiffPage(PageDecodeContext& context) {
    if (context.directory == nullptr) return 0;
    const TiffField* fields = context.directory->fields;
    const TiffField& offsets = fields[SlotStripOffsets];
    const TiffField& byteCounts = fields[SlotStripByteCounts];
    const TiffField& rowCounts = fields[SlotStripRowCounts];
    const uint64_t stride = context.bytesPerRow;
    // Tables shorter than the others end the page at their last entry.
    const uint32_t strips = std::min({offsets.count, byteCounts.count, rowCounts.count});
    int64_t remaining = context.height;
    for (uint32_t i = 0; i < strips && remaining > 0; ++i) {
        // A strip never claims more rows than the page has: a hostile count cannot make the
        // decoders produce rows without end.
        const uint32_t rows = std::min(TiffFieldValue(rowCounts, i), context.height);
        if (rows == 0) continue;
        remaining -= rows;
        const uint64_t stripEnd = context.bytesDelivered + rows * stride;
        DecodeStrip(context, TiffFieldValue(offsets, i), TiffFieldValue(byteCounts, i), rows);
        PadTo(context, stripEnd);
    }
    PadTo(context, context.height * stride);
    return 1;
}

void CloseTiffPage(PageDecodeContext& context) {
    FreeTiffDirectory(context.directory);
    context.directory = nullptr;
}

int ReadTiffPageInfo(ReadOp read, SeekOp seek, void* file, uint32_t pageIndex, PageInfo& info) {
    TiffDirectory* directory = FindTiffPage(read, seek, file, pageIndex);
    if (directory == nullptr) return 0;
    const TiffField* fields = directory->fields;
    info.width = static_cast<int32_t>(TiffFieldValue(fields[SlotImageWidth], 0));
    info.height = static_cast<int32_t>(TiffFieldValue(fields[SlotImageLength], 0));
    info.xResolution = static_cast<int32_t>(TiffFieldValue(fields[SlotXResolution], 0));
    info.yResolution = static_cast<int32_t>(TiffFieldValue(fields[SlotYResolution], 0));
    FreeTiffDirectory(directory);
    return 1;
}

void DeliverRows(PageDecodeContext& context, const uint8_t* bytes, uint32_t count) {
    if (context.sink != nullptr) context.sink(context.sinkContext, bytes, count);
    context.bytesDelivered += count;
}

void DeliverBackgroundRows(PageDecodeContext& context, uint32_t rows) {
    const uint32_t stride = context.bytesPerRow;
    if (rows == 0 || stride == 0) return;
    // Whole rows in pieces of at most 1 MiB (at least one row).
    const uint32_t pieceRows = std::min(rows, std::max<uint32_t>(1, 0x100000 / stride));
    auto* block = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(pieceRows) * stride));
    if (block == nullptr) return;
    std::memset(block, context.background, static_cast<size_t>(pieceRows) * stride);
    while (rows > 0) {
        const uint32_t n = std::min(rows, pieceRows);
        DeliverRows(context, block, n * stride);
        rows -= n;
    }
    std::free(block);
}
