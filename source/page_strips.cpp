#include "source/page_strips.h"

#include <windows.h>

#include "imaging/windows/page_file_store.h"
#include "source/transfer_state.h"

namespace {

constexpr DWORD BmpHeadersBytes = 54;  // file header and info header

// Bytes of the palette that precedes the rows in the file; none for 24 bits.
DWORD PaletteBytes(const BITMAPINFOHEADER& header)
{
    return header.biBitCount >= 24 ? 0 : (DWORD(1) << header.biBitCount) * 4;
}

void DeletePageFile()
{
    ClosePageFile();
    DeleteFileA(CurrentPageFile);
}

}  // namespace

int OpenPageForStrips()
{
    FreeHeldPage();
    ClosePageFile();
    TransferState.PageRowBytes = 0;
    const BITMAPINFOHEADER& header = CurrentPageHeader;
    // The header was checked when the file was selected; no page selected leaves it empty.
    if (CurrentPageFile[0] == '\0' || header.biHeight <= 0 || header.biBitCount > 24)
        return 0;
    HANDLE file = CreateFileA(CurrentPageFile, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD rowsAt = BmpHeadersBytes + PaletteBytes(header);
    if (SetFilePointer(file, LONG(rowsAt), nullptr, FILE_BEGIN) != rowsAt) {
        CloseHandle(file);
        return 0;
    }
    TransferState.PageFileHandle = file;
    TransferState.PageBytesRemaining = header.biSizeImage;
    TransferState.PageRowBytes = header.biSizeImage / DWORD(header.biHeight);
    TransferState.StripBytesPerRow = TransferState.PageRowBytes;
    return 1;
}

int ReadStrip(uint8_t* buffer, uint32_t capacity, uint32_t& bytesRead)
{
    bytesRead = 0;
    uint32_t rowBytes = TransferState.PageRowBytes;
    if (rowBytes == 0 || !TransferState.PageFileHandle)
        return 0;
    int64_t wanted = int64_t(capacity / rowBytes) * rowBytes;
    if (wanted > TransferState.PageBytesRemaining)
        wanted = TransferState.PageBytesRemaining;
    DWORD read = 0;
    if (wanted > 0) {
        // A short read is a page file cut off: the strip would not be the page.
        if (!ReadFile(TransferState.PageFileHandle, buffer, DWORD(wanted), &read, nullptr) ||
            read != DWORD(wanted)) {
            DeletePageFile();
            TransferState.PageRowBytes = 0;
            return 0;
        }
    }
    bytesRead = read;
    TransferState.PageBytesRemaining -= read;
    if (TransferState.PageBytesRemaining <= 0)
        DeletePageFile();
    return 1;
}
