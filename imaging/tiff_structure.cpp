#include "imaging/tiff_structure.h"

#include <algorithm>
#include <cstddef>
#include <unordered_set>
#include <vector>

namespace {

// Strip or tile tables longer than this are no document's.
constexpr uint32_t MaxOffsets = 1u << 20;

struct StructureReader {
    ReadOp read;
    SeekOp seek;
    void* file;
    uint64_t size;
    bool bigEndian;

    bool Read(uint64_t offset, void* data, uint32_t count) const {
        if (offset > size || count > size - offset) return false;
        if (seek(file, static_cast<uint32_t>(offset), 0) != static_cast<int64_t>(offset)) return false;
        return read(file, data, count) == count;
    }
    uint32_t Number(const uint8_t* bytes, int width) const {
        uint32_t value = 0;
        for (int i = 0; i < width; ++i)
            value |= static_cast<uint32_t>(bytes[bigEndian ? width - 1 - i : i]) << (8 * i);
        return value;
    }
};

// Bytes per value of a field type; 0 for a type the check does not know (its value is not
// followed).
uint32_t TypeSize(uint32_t type) {
    switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
    }
}

struct Entry {
    uint32_t tag, type, count;
    const uint8_t* value;  // the entry's 4-byte value field
};

// The values of a SHORT or LONG table (strip or tile offsets and byte counts).
bool ReadTable(const StructureReader& reader, const Entry& entry, std::vector<uint32_t>& values) {
    const uint32_t width = entry.type == 3 ? 2 : entry.type == 4 ? 4 : 0;
    if (width == 0 || entry.count == 0 || entry.count > MaxOffsets) return false;
    std::vector<uint8_t> bytes(static_cast<size_t>(entry.count) * width);
    if (bytes.size() <= 4) {
        std::copy(entry.value, entry.value + bytes.size(), bytes.begin());
    } else if (!reader.Read(reader.Number(entry.value, 4), bytes.data(), static_cast<uint32_t>(bytes.size()))) {
        return false;
    }
    values.resize(entry.count);
    for (uint32_t i = 0; i < entry.count; ++i) values[i] = reader.Number(&bytes[i * width], static_cast<int>(width));
    return true;
}

TiffStructureFault CheckData(const StructureReader& reader, const std::vector<uint32_t>& offsets,
                             const std::vector<uint32_t>& counts) {
    if (offsets.size() != counts.size()) return TiffStructureFault::NoImageData;
    for (size_t i = 0; i < offsets.size(); ++i)
        if (static_cast<uint64_t>(offsets[i]) + counts[i] > reader.size) return TiffStructureFault::DataOutside;
    return TiffStructureFault::None;
}

TiffStructureFault CheckDirectory(const StructureReader& reader, uint32_t offset, uint32_t& next) {
    uint8_t countBytes[2];
    if (!reader.Read(offset, countBytes, 2)) return TiffStructureFault::DirectoryOutside;
    const uint32_t count = reader.Number(countBytes, 2);
    if (count == 0) return TiffStructureFault::NoImageData;
    std::vector<uint8_t> entries(count * 12u + 4u);
    if (!reader.Read(offset + 2ull, entries.data(), static_cast<uint32_t>(entries.size())))
        return TiffStructureFault::DirectoryOutside;
    std::vector<uint32_t> offsets[2], counts[2];  // strips, tiles
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* raw = &entries[i * 12u];
        const Entry entry{reader.Number(raw, 2), reader.Number(raw + 2, 2), reader.Number(raw + 4, 4), raw + 8};
        const uint64_t bytes = static_cast<uint64_t>(entry.count) * TypeSize(entry.type);
        if (bytes > 4 && static_cast<uint64_t>(reader.Number(entry.value, 4)) + bytes > reader.size)
            return TiffStructureFault::ValueOutside;
        bool read = true;
        switch (entry.tag) {
        case 273: read = ReadTable(reader, entry, offsets[0]); break;
        case 279: read = ReadTable(reader, entry, counts[0]); break;
        case 324: read = ReadTable(reader, entry, offsets[1]); break;
        case 325: read = ReadTable(reader, entry, counts[1]); break;
        }
        if (!read) return TiffStructureFault::NoImageData;
    }
    if (offsets[0].empty() && offsets[1].empty()) return TiffStructureFault::NoImageData;
    next = reader.Number(&entries[count * 12u], 4);
    const TiffStructureFault strips = CheckData(reader, offsets[0], counts[0]);
    return strips != TiffStructureFault::None ? strips : CheckData(reader, offsets[1], counts[1]);
}

}  // namespace

bool CheckTiffStructure(ReadOp read, SeekOp seek, void* file, TiffStructure& structure) {
    structure = TiffStructure{};
    const int64_t size = seek(file, 0, 2);
    StructureReader reader{read, seek, file, size > 0 ? static_cast<uint64_t>(size) : 0, false};
    structure.fileSize = reader.size;
    uint8_t header[8];
    if (!reader.Read(0, header, 8) || header[0] != header[1] || (header[0] != 'I' && header[0] != 'M')) {
        structure.fault = TiffStructureFault::NotTiff;
        return false;
    }
    reader.bigEndian = header[0] == 'M';
    if (reader.Number(header + 2, 2) != 42) {
        structure.fault = TiffStructureFault::NotTiff;
        return false;
    }
    uint32_t offset = reader.Number(header + 4, 4);
    if (offset == 0) structure.fault = TiffStructureFault::NoDirectory;
    std::unordered_set<uint32_t> seen;
    while (offset != 0 && structure.fault == TiffStructureFault::None) {
        if (!seen.insert(offset).second) {
            structure.fault = TiffStructureFault::Loop;
        } else if (structure.directories == MaxTiffDirectories) {
            structure.fault = TiffStructureFault::TooManyDirectories;
        } else {
            uint32_t next = 0;
            structure.fault = CheckDirectory(reader, offset, next);
            if (structure.fault == TiffStructureFault::None) ++structure.directories;
            offset = next;
        }
    }
    return structure.fault == TiffStructureFault::None;
}

const char* TiffStructureFaultText(TiffStructureFault fault) {
    switch (fault) {
    case TiffStructureFault::None: return "whole";
    case TiffStructureFault::NotTiff: return "not a TIFF file";
    case TiffStructureFault::NoDirectory: return "no image directory";
    case TiffStructureFault::DirectoryOutside: return "an image directory lies past the end of the file";
    case TiffStructureFault::ValueOutside: return "a directory value lies past the end of the file";
    case TiffStructureFault::DataOutside: return "image data lies past the end of the file";
    case TiffStructureFault::NoImageData: return "an image directory holds no usable image data table";
    case TiffStructureFault::Loop: return "the directory chain loops";
    case TiffStructureFault::TooManyDirectories: return "too many image directories";
    }
    return "unknown fault";
}
