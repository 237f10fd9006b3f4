// The page on its way to the application: the block held for a native or file transfer and the
// page file open for a memory transfer's strips.
#pragma once

#include <windows.h>

#include <cstdint>

struct TransferStateRecord {
    HGLOBAL HeldPage;             // page loaded for native or file transfer, not yet handed over
    int64_t PageBytesRemaining;   // bits of the open page not yet sent by memory transfer
    uint32_t PageRowBytes;        // row length of the page open for memory transfer; 0 = none
    uint32_t StripBytesPerRow;    // reported as TW_IMAGEMEMXFER.BytesPerRow
    uint32_t StripRowOffset;      // rows of the current page already sent (YOffset)
    HANDLE PageFileHandle;        // read handle on the page file during a memory transfer
};

extern TransferStateRecord TransferState;

// Frees the page held for a native or file transfer, if any.
void FreeHeldPage();
// Closes the page file open for strips, if any, without deleting it.
void ClosePageFile();
// Lets go of the page under way: the held block is freed, the page file open for strips is closed
// (an open handle would keep its file from being deleted with the work directory) and no further
// strip can be read.
void LetGoOfPage();
// The strip counters that MSG_ENDXFER resets.
void ResetMemoryTransferCounters();
