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
// Ends the batch: the page held or open is let go, nothing stays pending, the manager is asked
// to close the source.
void AbortTransfer();
void ResetMemoryTransferCounters();

// After every completed transfer: the progress window counts the page, a document whose last
// page of the range went out is finished, and the batch moves on.
void FinishPage();
// The next page of the range, or the next chosen document; nothing pending once the user has
// cancelled in the progress window.
void AdvancePage();
// Frees the page held for a native or file transfer, if any.
void FreeHeldPage();

int GetRangeLastPage();
void SetRangeLastPage(int page);
int GetRangePageCount();
void SetRangePageCount(int count);
int GetCurrentPage();
void SetCurrentPage(int page);
int GetPagesRemaining();
void StartDocumentPages();
void ClearPagesPending();
