#include "tools/test_source/page_images.h"

#include <cstring>
#include <vector>

#include "tools/test_source/test_pattern.h"

namespace {

uint32_t DibRowBytes(const PageSpec& spec)
{
    return ((uint32_t(spec.width) * spec.bits + 31) / 32) * 4;
}

int PaletteEntries(const PageSpec& spec)
{
    return spec.bits == 24 ? 0 : 1 << spec.bits;
}

size_t DibSize(const PageSpec& spec)
{
    return sizeof(BITMAPINFOHEADER) + PaletteEntries(spec) * sizeof(RGBQUAD) +
           size_t(DibRowBytes(spec)) * spec.height;
}

void FillDib(uint8_t* dib, const PageSpec& spec, int page, int resolution)
{
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = spec.width;
    header.biHeight = spec.height;
    header.biPlanes = 1;
    header.biBitCount = WORD(spec.bits);
    header.biCompression = BI_RGB;
    header.biSizeImage = DibRowBytes(spec) * spec.height;
    header.biXPelsPerMeter = LONG(resolution * 10000L / 254);
    header.biYPelsPerMeter = header.biXPelsPerMeter;
    header.biClrUsed = PaletteEntries(spec);
    memcpy(dib, &header, sizeof header);

    RGBQUAD* palette = reinterpret_cast<RGBQUAD*>(dib + sizeof header);
    for (int i = 0; i < PaletteEntries(spec); ++i) {
        BYTE level = BYTE(i * 255 / (PaletteEntries(spec) - 1));
        palette[i] = {level, level, level, 0};
    }

    uint8_t* pixels = dib + sizeof header + PaletteEntries(spec) * sizeof(RGBQUAD);
    std::vector<uint8_t> packed(PackedRowBytes(spec));
    for (int y = 0; y < spec.height; ++y) {
        PackRow(spec, page, y, packed.data());
        uint8_t* row = pixels + size_t(spec.height - 1 - y) * DibRowBytes(spec);
        if (spec.bits == 24) {
            for (int x = 0; x < spec.width; ++x) {
                row[x * 3] = packed[x * 3 + 2];
                row[x * 3 + 1] = packed[x * 3 + 1];
                row[x * 3 + 2] = packed[x * 3];
            }
        } else {
            memcpy(row, packed.data(), packed.size());
        }
    }
}

}  // namespace

uint32_t PackedRowBytes(const PageSpec& spec)
{
    return (uint32_t(spec.width) * spec.bits + 7) / 8;
}

void PackRow(const PageSpec& spec, int page, int y, uint8_t* out)
{
    memset(out, 0, PackedRowBytes(spec));
    for (int x = 0; x < spec.width; ++x) {
        if (spec.bits == 1) {
            if (PatternWhite(page, x, y))
                out[x / 8] |= uint8_t(0x80 >> (x % 8));
        } else if (spec.bits == 8) {
            out[x] = PatternGray(page, x, y);
        } else {
            PatternRgb(page, x, y, out + x * 3);
        }
    }
}

HGLOBAL BuildDib(const PageSpec& spec, int page, int resolution)
{
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, DibSize(spec));
    if (!memory)
        return nullptr;
    uint8_t* dib = static_cast<uint8_t*>(GlobalLock(memory));
    FillDib(dib, spec, page, resolution);
    GlobalUnlock(memory);
    return memory;
}

bool WriteBmpFile(const char* path, const PageSpec& spec, int page, int resolution)
{
    std::vector<uint8_t> dib(DibSize(spec));
    FillDib(dib.data(), spec, page, resolution);
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;
    header.bfSize = DWORD(sizeof header + dib.size());
    header.bfOffBits = DWORD(sizeof header + sizeof(BITMAPINFOHEADER) +
                             PaletteEntries(spec) * sizeof(RGBQUAD));
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0, written2 = 0;
    bool ok = WriteFile(file, &header, sizeof header, &written, nullptr) &&
              WriteFile(file, dib.data(), DWORD(dib.size()), &written2, nullptr) &&
              written == sizeof header && written2 == dib.size();
    CloseHandle(file);
    if (!ok)
        DeleteFileA(path);
    return ok;
}
