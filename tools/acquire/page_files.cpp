#include "tools/acquire/page_files.h"

#include <cstdio>
#include <cstring>

namespace {

// No page a test or the demo produces comes near this; a larger claim is not believed.
constexpr uint64_t MaxPageBytes = 512ull << 20;

bool Fail(std::string& error, const std::string& text)
{
    error = text;
    return false;
}

// Writes all parts or leaves no file behind.
bool WriteWholeFile(const std::string& path, const std::vector<std::pair<const void*, size_t>>& parts,
                    std::string& error)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Fail(error, "cannot create " + path);
    bool ok = true;
    for (const auto& part : parts) {
        DWORD written = 0;
        if (!WriteFile(file, part.first, DWORD(part.second), &written, nullptr) ||
            written != part.second)
            ok = false;
    }
    CloseHandle(file);
    if (!ok) {
        DeleteFileA(path.c_str());
        return Fail(error, "cannot write " + path);
    }
    return true;
}

uint64_t StrideOf(int width, int bits)
{
    return (uint64_t(width) * bits + 31) / 32 * 4;
}

// Bytes from the start of a DIB to its pixels, or 0 when the header is not one we can write.
uint64_t PixelOffset(const BITMAPINFOHEADER& header)
{
    uint64_t colours = header.biClrUsed;
    if (header.biBitCount <= 8) {
        if (colours == 0)
            colours = 1ull << header.biBitCount;
        if (colours > (1ull << header.biBitCount))
            return 0;
    }
    uint64_t masks = header.biCompression == BI_BITFIELDS && header.biSize == 40 ? 12 : 0;
    return header.biSize + masks + colours * 4;
}

}  // namespace

bool WriteDibAsBmp(HGLOBAL dib, const std::string& path, std::string& error)
{
    SIZE_T blockSize = GlobalSize(dib);
    if (blockSize < sizeof(BITMAPINFOHEADER))
        return Fail(error, "the DIB block is smaller than its header");
    const uint8_t* bytes = static_cast<const uint8_t*>(GlobalLock(dib));
    if (!bytes)
        return Fail(error, "the DIB block cannot be locked");
    BITMAPINFOHEADER header;
    memcpy(&header, bytes, sizeof header);
    int bits = header.biBitCount;
    bool knownDepth = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    bool plain = header.biCompression == BI_RGB || header.biCompression == BI_BITFIELDS;
    uint64_t height = header.biHeight < 0 ? uint64_t(-int64_t(header.biHeight)) : uint64_t(header.biHeight);
    uint64_t offset = PixelOffset(header);
    uint64_t size = offset + StrideOf(header.biWidth, bits) * height;
    bool ok = header.biSize >= 40 && header.biSize <= 124 && header.biWidth > 0 && height > 0 &&
              header.biPlanes == 1 && knownDepth && plain && offset != 0 && size <= blockSize &&
              size <= MaxPageBytes;
    if (!ok) {
        GlobalUnlock(dib);
        char text[160];
        snprintf(text, sizeof text, "the DIB is not one a BMP file can hold (%ld x %ld, %d bit, %lu bytes)",
                 long(header.biWidth), long(header.biHeight), bits, (unsigned long)blockSize);
        return Fail(error, text);
    }
    BITMAPFILEHEADER fileHeader{};
    fileHeader.bfType = 0x4D42;
    fileHeader.bfSize = DWORD(sizeof fileHeader + size);
    fileHeader.bfOffBits = DWORD(sizeof fileHeader + offset);
    bool written = WriteWholeFile(path, {{&fileHeader, sizeof fileHeader}, {bytes, size_t(size)}}, error);
    GlobalUnlock(dib);
    return written;
}

bool IsBmpFile(const std::string& path)
{
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return false;
    char magic[2] = {};
    bool bmp = fread(magic, 1, 2, file) == 2 && magic[0] == 'B' && magic[1] == 'M';
    fclose(file);
    return bmp;
}

bool IsTiffFile(const std::string& path)
{
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return false;
    unsigned char magic[4] = {};
    bool read = fread(magic, 1, 4, file) == 4;
    fclose(file);
    return read && ((magic[0] == 'I' && magic[1] == 'I' && magic[2] == 42 && magic[3] == 0) ||
                    (magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0 && magic[3] == 42));
}

bool BeginMemoryPage(MemoryPage& page, const TW_IMAGEINFO& info, bool vanilla, std::string& error)
{
    page = MemoryPage{};
    int bits = info.BitsPerPixel;
    bool grey = info.SamplesPerPixel == 1 && (bits == 1 || bits == 4 || bits == 8);
    bool rgb = info.SamplesPerPixel == 3 && bits == 24 && !info.Planar;
    if (info.Compression != TWCP_NONE)
        return Fail(error, "compressed memory transfers are not supported");
    if (!grey && !rgb)
        return Fail(error, "memory transfers of " + std::to_string(bits) + " bits in " +
                               std::to_string(info.SamplesPerPixel) + " samples are not supported");
    if (info.ImageWidth <= 0 || info.ImageLength <= 0)
        return Fail(error, "the page has no known size");
    page.width = info.ImageWidth;
    page.height = info.ImageLength;
    page.bitsPerPixel = bits;
    page.vanilla = vanilla && grey;
    uint64_t stride = StrideOf(page.width, bits);
    if (stride * uint64_t(page.height) > MaxPageBytes)
        return Fail(error, "the page is too large");
    page.packedRowBytes = uint32_t((uint64_t(page.width) * bits + 7) / 8);
    page.bmpRowBytes = uint32_t(stride);
    page.pixels.assign(size_t(page.bmpRowBytes) * page.height, 0);
    page.received.assign(size_t(page.height), 0);
    return true;
}

bool AddStrip(MemoryPage& page, const TW_IMAGEMEMXFER& strip, const uint8_t* buffer,
              uint32_t bufferSize, std::string& error)
{
    if (strip.Compression != TWCP_NONE)
        return Fail(error, "a strip is compressed");
    if (strip.XOffset != 0 || strip.Columns != uint32_t(page.width))
        return Fail(error, "a strip does not span the page's width (tiles are not supported)");
    if (strip.Rows == 0)
        return true;
    if (strip.BytesPerRow < page.packedRowBytes)
        return Fail(error, "a strip's rows are shorter than the page's width");
    if (strip.YOffset > uint32_t(page.height) || strip.Rows > uint32_t(page.height) - strip.YOffset)
        return Fail(error, "a strip reaches below the page");
    if (uint64_t(strip.Rows) * strip.BytesPerRow > bufferSize)
        return Fail(error, "a strip claims more bytes than the buffer holds");
    for (uint32_t r = 0; r < strip.Rows; ++r) {
        uint32_t y = strip.YOffset + r;
        const uint8_t* from = buffer + size_t(r) * strip.BytesPerRow;
        uint8_t* to = page.pixels.data() + size_t(page.height - 1 - y) * page.bmpRowBytes;
        if (page.bitsPerPixel == 24) {
            for (int x = 0; x < page.width; ++x) {
                to[x * 3] = from[x * 3 + 2];
                to[x * 3 + 1] = from[x * 3 + 1];
                to[x * 3 + 2] = from[x * 3];
            }
        } else {
            memcpy(to, from, page.packedRowBytes);
        }
        page.received[y] = 1;
    }
    return true;
}

bool WriteMemoryPage(const MemoryPage& page, int resolution, const std::string& path,
                     std::string& error)
{
    for (int y = 0; y < page.height; ++y)
        if (!page.received[y])
            return Fail(error, "row " + std::to_string(y) + " never arrived");
    int colours = page.bitsPerPixel <= 8 ? 1 << page.bitsPerPixel : 0;
    std::vector<RGBQUAD> palette(colours);
    for (int i = 0; i < colours; ++i) {
        int level = i * 255 / (colours - 1);
        BYTE value = BYTE(page.vanilla ? 255 - level : level);
        palette[i] = {value, value, value, 0};
    }
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = page.width;
    header.biHeight = page.height;
    header.biPlanes = 1;
    header.biBitCount = WORD(page.bitsPerPixel);
    header.biCompression = BI_RGB;
    header.biSizeImage = DWORD(page.pixels.size());
    header.biXPelsPerMeter = LONG(resolution * 10000L / 254);
    header.biYPelsPerMeter = header.biXPelsPerMeter;
    header.biClrUsed = DWORD(colours);
    BITMAPFILEHEADER fileHeader{};
    fileHeader.bfType = 0x4D42;
    fileHeader.bfOffBits = DWORD(sizeof fileHeader + sizeof header + colours * sizeof(RGBQUAD));
    fileHeader.bfSize = DWORD(fileHeader.bfOffBits + page.pixels.size());
    return WriteWholeFile(path,
                          {{&fileHeader, sizeof fileHeader},
                           {&header, sizeof header},
                           {palette.data(), palette.size() * sizeof(RGBQUAD)},
                           {page.pixels.data(), page.pixels.size()}},
                          error);
}
