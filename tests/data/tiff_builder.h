// A small TIFF writer for tests and test data: pages of entries and strips, in either byte
// order, with room to write what a damaged or hostile file would hold.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

struct TiffEntry {
    uint16_t tag = 0;
    uint16_t type = 4;                  // 3 SHORT, 4 LONG, 5 RATIONAL (numerator, denominator pairs)
    std::vector<uint32_t> values;
    std::optional<uint32_t> count;      // written instead of the number of values
    std::optional<uint32_t> rawField;   // written instead of the value or its offset
};

struct TiffPage {
    std::vector<TiffEntry> entries;
    // Strip data; when given, StripOffsets and StripByteCounts are added with stripTableType.
    std::vector<std::vector<uint8_t>> strips;
    uint16_t stripTableType = 4;
};

inline TiffEntry Short(uint16_t tag, std::vector<uint32_t> values) {
    return TiffEntry{tag, 3, std::move(values), {}, {}};
}
inline TiffEntry Long(uint16_t tag, std::vector<uint32_t> values) {
    return TiffEntry{tag, 4, std::move(values), {}, {}};
}
inline TiffEntry Rational(uint16_t tag, uint32_t numerator, uint32_t denominator) {
    return TiffEntry{tag, 5, {numerator, denominator}, {}, {}};
}

class TiffWriter {
public:
    explicit TiffWriter(bool bigEndian) : bigEndian_(bigEndian) {}

    std::vector<uint8_t> Build(const std::vector<TiffPage>& pages) {
        bytes_.clear();
        Put8(bigEndian_ ? 'M' : 'I');
        Put8(bigEndian_ ? 'M' : 'I');
        Put16(42);
        Put32(0);
        size_t linkAt = 4;
        for (const TiffPage& page : pages) {
            const uint32_t directory = WritePage(page);
            Patch32(linkAt, directory);
            linkAt = directory + 2 + 12 * EntriesOf(page).size();
        }
        return bytes_;
    }

private:
    static uint32_t ElementBytes(uint16_t type) {
        switch (type) {
        case 1: case 2: case 6: case 7: return 1;
        case 3: case 8: return 2;
        case 5: case 10: case 12: return 8;
        default: return 4;
        }
    }

    static std::vector<TiffEntry> EntriesOf(const TiffPage& page) {
        std::vector<TiffEntry> entries = page.entries;
        if (!page.strips.empty()) {
            TiffEntry offsets{273, page.stripTableType, {}, {}, {}};
            TiffEntry counts{279, page.stripTableType, {}, {}, {}};
            for (const auto& strip : page.strips) {
                offsets.values.push_back(0);   // filled in when the strips are placed
                counts.values.push_back(static_cast<uint32_t>(strip.size()));
            }
            entries.push_back(offsets);
            entries.push_back(counts);
        }
        std::stable_sort(entries.begin(), entries.end(),
                         [](const TiffEntry& a, const TiffEntry& b) { return a.tag < b.tag; });
        return entries;
    }

    uint32_t WritePage(const TiffPage& page) {
        std::vector<uint32_t> stripOffsets;
        for (const auto& strip : page.strips) {
            stripOffsets.push_back(static_cast<uint32_t>(bytes_.size()));
            bytes_.insert(bytes_.end(), strip.begin(), strip.end());
        }
        std::vector<TiffEntry> entries = EntriesOf(page);
        for (TiffEntry& entry : entries) {
            if (entry.tag == 273 && !page.strips.empty() && entry.values.size() == stripOffsets.size()) {
                entry.values = stripOffsets;
            }
        }
        // Out-of-line values first, then the directory that points at them.
        std::vector<uint32_t> fields;
        for (const TiffEntry& entry : entries) {
            const size_t size = ValueBytes(entry);
            if (size <= 4) {
                fields.push_back(InlineField(entry));
                continue;
            }
            if (bytes_.size() % 2) Put8(0);
            fields.push_back(static_cast<uint32_t>(bytes_.size()));
            PutValues(entry);
        }
        if (bytes_.size() % 2) Put8(0);
        const auto directory = static_cast<uint32_t>(bytes_.size());
        Put16(static_cast<uint16_t>(entries.size()));
        for (size_t i = 0; i < entries.size(); ++i) {
            const TiffEntry& entry = entries[i];
            Put16(entry.tag);
            Put16(entry.type);
            Put32(entry.count ? *entry.count : CountOf(entry));
            if (entry.rawField) {
                Put32(*entry.rawField);
            } else if (ValueBytes(entry) <= 4) {
                for (int b = 0; b < 4; ++b) Put8(static_cast<uint8_t>(fields[i] >> (8 * b)));
            } else {
                Put32(fields[i]);
            }
        }
        Put32(0);
        return directory;
    }

    static uint32_t CountOf(const TiffEntry& entry) {
        const auto n = static_cast<uint32_t>(entry.values.size());
        return ElementBytes(entry.type) == 8 ? n / 2 : n;
    }

    static size_t ValueBytes(const TiffEntry& entry) {
        return static_cast<size_t>(CountOf(entry)) * ElementBytes(entry.type);
    }

    // The value field's four bytes in file order, packed into a number read back byte by byte.
    uint32_t InlineField(const TiffEntry& entry) {
        const size_t start = bytes_.size();
        PutValues(entry);
        uint32_t field = 0;
        for (size_t b = 0; b < bytes_.size() - start; ++b) field |= static_cast<uint32_t>(bytes_[start + b]) << (8 * b);
        bytes_.resize(start);
        return field;
    }

    void PutValues(const TiffEntry& entry) {
        const uint32_t size = ElementBytes(entry.type);
        for (uint32_t v : entry.values) {
            if (size == 1) Put8(static_cast<uint8_t>(v));
            else if (size == 2) Put16(static_cast<uint16_t>(v));
            else Put32(v);   // RATIONAL values are already split into two LONGs
        }
    }

    void Put8(uint8_t v) { bytes_.push_back(v); }
    void Put16(uint16_t v) {
        if (bigEndian_) { Put8(v >> 8); Put8(v & 0xFF); }
        else { Put8(v & 0xFF); Put8(v >> 8); }
    }
    void Put32(uint32_t v) {
        if (bigEndian_) { Put16(v >> 16); Put16(v & 0xFFFF); }
        else { Put16(v & 0xFFFF); Put16(v >> 16); }
    }
    void Patch32(size_t at, uint32_t v) {
        for (int b = 0; b < 4; ++b) {
            const int shift = bigEndian_ ? 24 - 8 * b : 8 * b;
            bytes_[at + b] = static_cast<uint8_t>(v >> shift);
        }
    }

    bool bigEndian_;
    std::vector<uint8_t> bytes_;
};

inline std::vector<uint8_t> BuildTiff(const std::vector<TiffPage>& pages, bool bigEndian = false) {
    return TiffWriter(bigEndian).Build(pages);
}
