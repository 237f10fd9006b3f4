#include "tools/test_source/page_images.h"

#include <cstring>
#include <vector>

#include "tools/test_source/test_pattern.h"

namespace {

uint32_t DibRowBytes(const PageSpec& shape)
{
    return ((uint32_t(shape.width) * shape.bits + 31) / 32) * 4;
}

int PaletteEntries(const PageSpec& shape)
{
    return shape.bits == 24 ? 0 : 1 << shape.bits;
}

size_t DibSize(const PageSpec& shape)
{
    return sizeof(BITMAPINFOHEADER) + PaletteEntries(shape) * sizeof(RGBQUAD) +
           size_t(DibRowBytes(shape)) * shape.height;
}

void FillDib(uint8_t* dib, const PageSpec& shape, int page, int resolution)
{
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = shape.width;
    header.biHeight = shape.height;
    header.biPlanes = 1;
    header.biBitCount = WORD(shape.bits);
    header.biCompression = BI_RGB;
    header.biSizeImage = DibRowBytes(shape) * shape.height;
    header.biXPelsPerMeter = LONG(resolution * 10000L / 254);
    header.biYPelsPerMeter = header.biXPelsPerMeter;
    header.biClrUsed = PaletteEntries(shape);
    memcpy(dib, &header, sizeof header);

    RGBQUAD* palette = reinterpret_cast<RGBQUAD*>(dib + sizeof header);
    for (int i = 0; i < PaletteEntries(shape); ++i) {
        BYTE level = BYTE(i * 255 / (PaletteEntries(shape) - 1));
        palette[i] = {level, level, level, 0};
    }

    uint8_t* pixels = dib + sizeof header + PaletteEntries(shape) * sizeof(RGBQUAD);
    std::vector<uint8_t> packed(PackedRowBytes(shape));
    for (int y = 0; y < shape.height; ++y) {
        PackRow(shape, page, y, packed.data());
        uint8_t* row = pixels + size_t(shape.height - 1 - y) * DibRowBytes(shape);
        if (shape.bits == 24) {
            for (int x = 0; x < shape.width; ++x) {
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

uint32_t PackedRowBytes(const PageSpec& shape)
{
    return (uint32_t(shape.width) * shape.bits + 7) / 8;
}

void PackRow(const PageSpec& shape, int page, int y, uint8_t* out)
{
    memset(out, 0, PackedRowBytes(shape));
    for (int x = 0; x < shape.width; ++x) {
        if (shape.bits == 1) {
            if (PatternWhite(page, x, y))
                out[x / 8] |= uint8_t(0x80 >> (x % 8));
        } else if (shape.bits == 8) {
            out[x] = PatternGray(page, x, y);
        } else {
            PatternRgb(page, x, y, out + x * 3);
        }
    }
}

HGLOBAL BuildDib(const PageSpec& shape, int page, int resolution)
{
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, DibSize(shape));
    if (!memory)
        return nullptr;
    uint8_t* dib = static_cast<uint8_t*>(GlobalLock(memory));
    FillDib(dib, shape, page, resolution);
    GlobalUnlock(memory);
    return memory;
}

bool WriteBmpFile(const char* path, const PageSpec& shape, int page, int resolution)
{
    std::vector<uint8_t> dib(DibSize(shape));
    FillDib(dib.data(), shape, page, resolution);
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;
    header.bfSize = DWORD(sizeof header + dib.size());
    header.bfOffBits = DWORD(sizeof header + sizeof(BITMAPINFOHEADER) +
                             PaletteEntries(shape) * sizeof(RGBQUAD));
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
