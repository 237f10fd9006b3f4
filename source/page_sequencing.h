// Which page goes out next, and the state of the transfer under way.
#pragma once

#include <windows.h>

#include <cstdint>

// Counters of the batch, set by the download chain through the accessors below.
struct PageSequenceRecord {
    int CurrentPage;     // 1-based page number, within its document, of the current page file
    int RangeLastPage;   // last page of the range chosen for the current document
    int RangePageCount;  // pages the chosen range takes from each document
    int PagesRemaining;  // pages of the current document not yet completed; 0 = nothing pending
};

// A page on its way to the application.
struct TransferStateRecord {
    HGLOBAL HeldPage;             // page loaded for native or file transfer, not yet handed over
    int64_t PageBytesRemaining;   // bits of the open page not yet sent by memory transfer
    uint32_t PageRowBytes;        // row length of the page open for memory transfer; 0 = none
    uint32_t StripBytesPerRow;    // reported as TW_IMAGEMEMXFER.BytesPerRow
    uint32_t StripRowOffset;      // rows of the current page already sent (YOffset)
    HANDLE PageFileHandle;        // read handle on the page file during a memory transfer
};

extern PageSequenceRecord PageSequence;
extern TransferStateRecord TransferState;

void ResetPageSequencing();  // values at load

bool MorePagesPending();
void AbortTransfer();
void ResetMemoryTransferCounters();

int GetRangeLastPage();
void SetRangeLastPage(int page);
int GetRangePageCount();
void SetRangePageCount(int count);
int GetCurrentPage();
void SetCurrentPage(int page);
int GetPagesRemaining();
void StartDocumentPages();
void ClearPagesPending();
