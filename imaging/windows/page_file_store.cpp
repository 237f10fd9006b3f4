#include "imaging/windows/page_file_store.h"

#include <cstdint>
#include <cstring>

#include "imaging/page_bitmap_format.h"
#include "imaging/tiff_writer.h"

char CurrentPageFile[MAX_PATH];
BITMAPINFOHEADER CurrentPageHeader;

namespace {

// The page loaded for a transfer or the preview.
struct LoadedPageDib {
    HGLOBAL block = nullptr;
    BYTE* bits = nullptr;   // block + 40 + 4 x colours used
};
LoadedPageDib PageDib;

bool WriteAll(HANDLE file, const void* bytes, DWORD count)
{
    DWORD written = 0;
    return WriteFile(file, bytes, count, &written, nullptr) && written == count;
}

bool ReadAll(HANDLE file, void* bytes, DWORD count)
{
    DWORD read = 0;
    return ReadFile(file, bytes, count, &read, nullptr) && read == count;
}

// Bytes of the palette a header's bit count calls for in a BMP file; 0 for 24 bits.
DWORD PaletteBytesOf(const BITMAPINFOHEADER& header)
{
    return header.biBitCount == 24 ? 0 : (1u << header.biBitCount) * 4;
}

// Whether a header read back from a file describes a page bitmap this store wrote: what the
// transfers and the DIB block size are computed from must agree with each other.
bool IsPageBitmapHeader(const BITMAPINFOHEADER& header)
{
    int pixelType = header.biBitCount == 1 ? PixelTypeBlackWhite
                    : header.biBitCount == 8 ? PixelTypeGray
                    : header.biBitCount == 24 ? PixelTypeRgb : -1;
    PageBitmapLayout layout;
    return header.biSize == BitmapInfoHeaderBytes && header.biWidth > 0 && header.biHeight > 0 &&
           PlanPageBitmapLayout(static_cast<uint32_t>(header.biWidth),
                                static_cast<uint32_t>(header.biHeight), pixelType, layout) &&
           header.biClrUsed == layout.coloursUsed && header.biSizeImage == layout.imageSize;
}

uint32_t WriteToFile(void* file, const void* bytes, uint32_t count)
{
    DWORD written = 0;
    return WriteFile(static_cast<HANDLE>(file), bytes, count, &written, nullptr) ? written : 0;
}

// Dots per inch of a header's pixels per metre, rounded up as the image information reports
// them (7874 gives 200).
uint32_t DotsPerInch(LONG pixelsPerMetre)
{
    return pixelsPerMetre > 0 ? static_cast<uint32_t>((int64_t(pixelsPerMetre) * 254 + 9999) / 10000) : 0;
}

uint32_t Brightness(const RGBQUAD& colour) { return uint32_t(colour.rgbRed) + colour.rgbGreen + colour.rgbBlue; }

// The loaded page as the TIFF writer takes it; false when the block does not hold what its
// header says.
bool DescribeLoadedPage(TiffPageRows& page)
{
    const auto* header = static_cast<const BITMAPINFOHEADER*>(PageDib.block);
    const uint16_t bits = header->biBitCount;
    if ((bits != 1 && bits != 8 && bits != 24) || header->biWidth <= 0 || header->biHeight <= 0)
        return false;
    const uint64_t blockBytes = uint64_t(BitmapInfoHeaderBytes) + 4 * uint64_t(header->biClrUsed) + header->biSizeImage;
    if (blockBytes > GlobalSize(PageDib.block) || (bits == 1 && header->biClrUsed < 2))
        return false;
    page.rows = PageDib.bits;
    page.width = static_cast<uint32_t>(header->biWidth);
    page.height = static_cast<uint32_t>(header->biHeight);
    page.stride = header->biSizeImage / page.height;
    page.bitsPerPixel = bits;
    page.xDpi = DotsPerInch(header->biXPelsPerMeter);
    page.yDpi = DotsPerInch(header->biYPelsPerMeter);
    // 1-bits are white when the second colour is the brighter, as in the page bitmap's black,
    // white palette. Gray pages have the ramp of 256 grays, which the TIFF's samples take as is.
    const auto* palette = reinterpret_cast<const RGBQUAD*>(header + 1);
    page.white = bits == 1 && Brightness(palette[0]) > Brightness(palette[1]) ? 0x00 : 0xFF;
    return true;
}

}  // namespace

int WritePageBitmapFile(const char* path, const void* rows, int width, int height, int xDpi,
                        int yDpi, int pixelType)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    PageBitmapLayout layout;
    bool written = width > 0 && height > 0 &&
                   PlanPageBitmapLayout(static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                                        pixelType, layout);
    if (written) {
        uint8_t headers[MaxPageBitmapHeaderBytes];
        uint32_t headerBytes = BuildPageBitmapHeaders(layout, xDpi, yDpi, headers);
        written = WriteAll(file, headers, BitmapFileHeaderBytes) &&
                  WriteAll(file, headers + BitmapFileHeaderBytes, headerBytes - BitmapFileHeaderBytes) &&
                  WriteAll(file, rows, layout.imageSize);
    }
    written = CloseHandle(file) && written;
    if (!written)
        DeleteFileA(path);
    return written ? 1 : 0;
}

int SelectPageFile(const char* path)
{
    if (!path || path[0] == '\0' || strlen(path) >= sizeof CurrentPageFile)
        return 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    BITMAPINFOHEADER header;
    bool read = SetFilePointer(file, BitmapFileHeaderBytes, nullptr, FILE_BEGIN) == BitmapFileHeaderBytes &&
                ReadAll(file, &header, sizeof header);
    CloseHandle(file);
    if (!read || !IsPageBitmapHeader(header))
        return 0;
    CurrentPageHeader = header;
    if (path != CurrentPageFile)
        strcpy(CurrentPageFile, path);
    return 1;
}

int LoadPageDib()
{
    FreePageDib();
    if (CurrentPageFile[0] == '\0')
        return 0;
    HANDLE file = CreateFileA(CurrentPageFile, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    // Sizes from the header that SelectPageFile checked: at most the 32-bit file size.
    DWORD headerBytes = BitmapInfoHeaderBytes + 4 * CurrentPageHeader.biClrUsed;
    DWORD size = headerBytes + CurrentPageHeader.biSizeImage;
    HGLOBAL block = GlobalAlloc(GPTR, size);
    bool read = block && SetFilePointer(file, BitmapFileHeaderBytes, nullptr, FILE_BEGIN) == BitmapFileHeaderBytes &&
                ReadAll(file, block, size);
    CloseHandle(file);
    if (!read) {
        if (block)
            GlobalFree(block);
        return 0;
    }
    PageDib.block = block;
    PageDib.bits = static_cast<BYTE*>(block) + headerBytes;
    return 1;
}

int FlipPageDib()
{
    if (!PageDib.block)
        return 0;
    const auto* header = static_cast<const BITMAPINFOHEADER*>(PageDib.block);
    if (header->biHeight <= 0)
        return 0;
    DWORD height = static_cast<DWORD>(header->biHeight);
    FlipPageRows(PageDib.bits, header->biSizeImage / height, height);
    return 1;
}

int SavePageDibAsBmp(const char* path)
{
    if (!PageDib.block)
        return 0;
    const auto* header = static_cast<const BITMAPINFOHEADER*>(PageDib.block);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        FreePageDib();
        return 0;
    }
    // The block must hold everything the file header says follows it.
    bool known = header->biBitCount == 1 || header->biBitCount == 8 || header->biBitCount == 24;
    DWORD paletteBytes = known ? PaletteBytesOf(*header) : 0;
    uint64_t blockBytes = uint64_t(BitmapInfoHeaderBytes) + paletteBytes + header->biSizeImage;
    bool written = known && blockBytes <= GlobalSize(PageDib.block);
    if (written) {
        DWORD pixelOffset = BitmapFileHeaderBytes + BitmapInfoHeaderBytes + paletteBytes;
        DWORD fileSize = pixelOffset + header->biSizeImage;
        uint8_t fileHeader[BitmapFileHeaderBytes];
        BuildBitmapFileHeader(fileSize, pixelOffset, fileHeader);
        written = WriteAll(file, fileHeader, sizeof fileHeader) &&
                  WriteAll(file, PageDib.block, fileSize - BitmapFileHeaderBytes);
    }
    written = CloseHandle(file) && written;
    if (!written)
        DeleteFileA(path);
    FreePageDib();
    return written ? 1 : 0;
}

int SavePageDibAsTiff(const char* path)
{
    if (!PageDib.block)
        return 0;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        FreePageDib();
        return 0;
    }
    TiffPageRows page;
    bool written = DescribeLoadedPage(page) && WriteTiffPage(page, WriteToFile, file);
    written = CloseHandle(file) && written;
    if (!written)
        DeleteFileA(path);
    FreePageDib();
    return written ? 1 : 0;
}

HGLOBAL GetPageDib() { return PageDib.block; }

BYTE* GetPageDibBits() { return PageDib.bits; }

void ForgetPageDib() { PageDib = LoadedPageDib{}; }

void FreePageDib()
{
    if (PageDib.block)
        GlobalFree(PageDib.block);
    PageDib = LoadedPageDib{};
}
