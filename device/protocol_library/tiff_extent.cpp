#include "device/protocol_library/tiff_extent.h"

#include <windows.h>

#include <cstdint>
#include <set>
#include <vector>

namespace {

constexpr int MaxDirectories = 4096;
constexpr uint32_t MaxOffsets = 1u << 20;

struct TiffFile {
    HANDLE handle;
    uint64_t size;
    bool bigEndian;

    bool Read(uint64_t offset, void* data, uint32_t count) const
    {
        if (offset > size || count > size - offset)
            return false;
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(offset);
        DWORD read = 0;
        return SetFilePointerEx(handle, at, nullptr, FILE_BEGIN) && ReadFile(handle, data, count, &read, nullptr) &&
               read == count;
    }
    uint32_t Number(const uint8_t* bytes, int width) const
    {
        uint32_t value = 0;
        for (int i = 0; i < width; ++i)
            value |= static_cast<uint32_t>(bytes[bigEndian ? width - 1 - i : i]) << (8 * i);
        return value;
    }
};

// Bytes per value of a field type; 0 for a type this check does not know.
uint32_t TypeSize(uint32_t type)
{
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
    uint8_t value[4];
};

// The values of a SHORT or LONG field (strip or tile offsets and byte counts).
bool ReadValues(const TiffFile& file, const Entry& entry, std::vector<uint32_t>& values)
{
    uint32_t width = entry.type == 3 ? 2 : entry.type == 4 ? 4 : 0;
    if (!width || entry.count == 0 || entry.count > MaxOffsets)
        return false;
    std::vector<uint8_t> bytes(static_cast<size_t>(entry.count) * width);
    if (bytes.size() <= 4)
        std::copy(entry.value, entry.value + bytes.size(), bytes.begin());
    else if (!file.Read(file.Number(entry.value, 4), bytes.data(), static_cast<uint32_t>(bytes.size())))
        return false;
    values.resize(entry.count);
    for (uint32_t i = 0; i < entry.count; ++i)
        values[i] = file.Number(&bytes[i * width], static_cast<int>(width));
    return true;
}

bool DataWithin(const TiffFile& file, const std::vector<uint32_t>& offsets, const std::vector<uint32_t>& counts)
{
    if (offsets.size() != counts.size())
        return false;
    for (size_t i = 0; i < offsets.size(); ++i)
        if (static_cast<uint64_t>(offsets[i]) + counts[i] > file.size)
            return false;
    return true;
}

bool DirectoryWhole(const TiffFile& file, uint32_t offset, uint32_t& next)
{
    uint8_t countBytes[2];
    if (!file.Read(offset, countBytes, 2))
        return false;
    uint32_t count = file.Number(countBytes, 2);
    std::vector<uint8_t> entries(count * 12u + 4u);
    if (count == 0 || !file.Read(offset + 2u, entries.data(), static_cast<uint32_t>(entries.size())))
        return false;
    std::vector<uint32_t> offsets[2], counts[2];  // strips, tiles
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* raw = &entries[i * 12u];
        Entry entry{file.Number(raw, 2), file.Number(raw + 2, 2), file.Number(raw + 4, 4), {}};
        std::copy(raw + 8, raw + 12, entry.value);
        uint64_t bytes = static_cast<uint64_t>(entry.count) * TypeSize(entry.type);
        if (bytes > 4 && static_cast<uint64_t>(file.Number(entry.value, 4)) + bytes > file.size)
            return false;
        bool ok = true;
        switch (entry.tag) {
        case 273: ok = ReadValues(file, entry, offsets[0]); break;
        case 279: ok = ReadValues(file, entry, counts[0]); break;
        case 324: ok = ReadValues(file, entry, offsets[1]); break;
        case 325: ok = ReadValues(file, entry, counts[1]); break;
        }
        if (!ok)
            return false;
    }
    if (offsets[0].empty() && offsets[1].empty())
        return false;
    next = file.Number(&entries[count * 12u], 4);
    return DataWithin(file, offsets[0], counts[0]) && DataWithin(file, offsets[1], counts[1]);
}

}  // namespace

bool TiffFileIsWhole(const std::string& path)
{
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size{};
    GetFileSizeEx(handle, &size);
    TiffFile file{handle, static_cast<uint64_t>(size.QuadPart), false};
    uint8_t header[8];
    bool whole = file.Read(0, header, 8) && header[0] == header[1] && (header[0] == 'I' || header[0] == 'M');
    if (whole) {
        file.bigEndian = header[0] == 'M';
        whole = file.Number(header + 2, 2) == 42;
    }
    uint32_t offset = whole ? file.Number(header + 4, 4) : 0;
    std::set<uint32_t> seen;
    int directories = 0;
    while (whole && offset != 0) {
        whole = seen.insert(offset).second && ++directories <= MaxDirectories;
        uint32_t next = 0;
        whole = whole && DirectoryWhole(file, offset, next);
        offset = next;
    }
    whole = whole && directories > 0;
    CloseHandle(handle);
    return whole;
}
