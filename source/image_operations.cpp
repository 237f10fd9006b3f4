// The three ways a page reaches the application: the native DIB, a BMP or TIFF file, memory strips.
#include "source/image_operations.h"

#include <cstring>

#include "imaging/windows/page_file_store.h"
#include "source/capability_store.h"
#include "source/control_operations.h"
#include "source/page_sequencing.h"
#include "source/page_strips.h"
#include "source/source_state.h"
#include "source/transfer_state.h"

namespace {

// The current page file loaded as a bottom-up packed DIB in the store. 0 leaves nothing loaded.
int LoadPage()
{
    if (LoadPageDib() && FlipPageDib())
        return 1;
    FreePageDib();
    return 0;
}

// Writes the current page to the set-up's file in the set-up's format; the name's ending plays
// no part. The page is freed in every case, and a file not written completely is deleted.
int SavePageFile(const char* path, int format)
{
    switch (format) {
    case TWFF_BMP:
        return LoadPage() && SavePageDibAsBmp(path);
    case TWFF_TIFF:
        // TIFF rows go top row first, as the page file keeps them.
        return LoadPageDib() && SavePageDibAsTiff(path);
    default:
        return 0;
    }
}

// The application's strip buffer: a pointer, or a global memory handle when its flags say so.
// A handle's block is used no further than it reaches.
struct StripBuffer {
    uint8_t* bytes = nullptr;
    uint32_t capacity = 0;
    HGLOBAL locked = nullptr;
};

bool LockStripBuffer(const TW_MEMORY& memory, StripBuffer& buffer)
{
    if (!(memory.Flags & TWMF_HANDLE)) {
        buffer.bytes = static_cast<uint8_t*>(memory.TheMem);
        buffer.capacity = memory.Length;
        return buffer.bytes || memory.Length == 0;
    }
    HGLOBAL handle = static_cast<HGLOBAL>(memory.TheMem);
    buffer.bytes = handle ? static_cast<uint8_t*>(GlobalLock(handle)) : nullptr;
    if (!buffer.bytes)
        return false;
    buffer.locked = handle;
    SIZE_T size = GlobalSize(handle);
    buffer.capacity = size < memory.Length ? uint32_t(size) : memory.Length;
    return true;
}

void UnlockStripBuffer(StripBuffer& buffer)
{
    if (buffer.locked)
        GlobalUnlock(buffer.locked);
}

// The file holds blue, green, red; the application receives red, green, blue.
void SwapRedAndBlue(uint8_t* rows, uint32_t rowCount, uint32_t rowBytes, uint32_t width)
{
    for (uint32_t row = 0; row < rowCount; ++row) {
        uint8_t* pixel = rows + size_t(row) * rowBytes;
        for (uint32_t x = 0; x < width; ++x, pixel += 3) {
            uint8_t blue = pixel[0];
            pixel[0] = pixel[2];
            pixel[2] = blue;
        }
    }
}

}  // namespace

QRV_IMAGE_HANDLER(ImageNativeXferHandler)
{
    if (SourceState != StateXferReady)
        return RefuseRequest(TWCC_SEQERROR, "no page ready <<DAT_IMAGENATIVEXFER>>");
    if (message != MSG_GET)
        return RefuseRequest(TWCC_BADPROTOCOL, "unknown message <<DAT_IMAGENATIVEXFER>>");
    TW_HANDLE* handle = static_cast<TW_HANDLE*>(data);
    if (!handle)
        return RefuseRequest(TWCC_BADVALUE, "no handle variable <<DAT_IMAGENATIVEXFER>>");
    FreeHeldPage();
    if (LoadPage()) {
        TransferState.HeldPage = GetPageDib();
        ForgetPageDib();
    }
    if (!TransferState.HeldPage)
        return RefuseRequest(TWCC_BADPROTOCOL, "page not loaded <<DAT_IMAGENATIVEXFER>>");
    // The application owns the block from here on and frees it.
    *handle = TransferState.HeldPage;
    TransferState.HeldPage = nullptr;
    FinishPage();
    SourceState = StateXferReady;
    return TWRC_XFERDONE;
}

QRV_IMAGE_HANDLER(ImageFileXferHandler)
{
    if (message != MSG_GET)
        return RefuseRequest(TWCC_BADPROTOCOL, "unknown message <<DAT_IMAGEFILEXFER>>");
    if (!SavePageFile(TransferFileName, GetImageFileFormat()))
        return RefuseRequest(TWCC_BADPROTOCOL, "file not written <<DAT_IMAGEFILEXFER>>");
    ConditionCode = TWCC_SUCCESS;
    FinishPage();
    SourceState = StateXferReady;
    return TWRC_XFERDONE;
}

QRV_IMAGE_HANDLER(ImageMemXferHandler)
{
    if (message != MSG_GET)
        return RefuseRequest(TWCC_BADPROTOCOL, "unknown message <<DAT_IMAGEMEMXFER>>");
    TW_IMAGEMEMXFER* strip = static_cast<TW_IMAGEMEMXFER*>(data);
    if (!strip)
        return RefuseRequest(TWCC_BADVALUE, "no strip <<DAT_IMAGEMEMXFER>>");
    // A page is opened only when one is ready; in other states the open page continues.
    if (SourceState == StateXferReady && !OpenPageForStrips())
        return RefuseRequest(TWCC_OPERATIONERROR, "page file not opened <<DAT_IMAGEMEMXFER>>");

    strip->Compression = TWCP_NONE;
    strip->BytesPerRow = TransferState.StripBytesPerRow;
    strip->Columns = TW_UINT32(CurrentPageHeader.biWidth);
    strip->XOffset = 0;
    strip->YOffset = TransferState.StripRowOffset;

    if (TransferState.PageRowBytes == 0)
        return RefuseRequest(TWCC_OPERATIONERROR, "no page open <<DAT_IMAGEMEMXFER>>");
    StripBuffer buffer;
    if (!LockStripBuffer(strip->Memory, buffer))
        return RefuseRequest(TWCC_BADVALUE, "no buffer <<DAT_IMAGEMEMXFER>>");
    uint32_t bytesRead = 0;
    int read = ReadStrip(buffer.bytes, buffer.capacity, bytesRead);
    uint32_t rowBytes = TransferState.PageRowBytes;
    if (read && CurrentPageHeader.biBitCount == 24 && rowBytes >= 3 * uint32_t(CurrentPageHeader.biWidth))
        SwapRedAndBlue(buffer.bytes, bytesRead / rowBytes, rowBytes, uint32_t(CurrentPageHeader.biWidth));
    UnlockStripBuffer(buffer);
    if (!read)
        return RefuseRequest(TWCC_OPERATIONERROR, "page file not read <<DAT_IMAGEMEMXFER>>");

    strip->BytesWritten = bytesRead;
    strip->Rows = strip->BytesPerRow ? bytesRead / strip->BytesPerRow : 0;
    TransferState.StripRowOffset += strip->Rows;
    if (TransferState.PageBytesRemaining <= 0) {
        FinishPage();
        SourceState = StateXferReady;
        return TWRC_XFERDONE;
    }
    SourceState = StateTransferring;
    return TWRC_SUCCESS;
}
