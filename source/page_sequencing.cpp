#include "source/page_sequencing.h"

#include "source/manager_notifications.h"

PageSequenceRecord PageSequence;
TransferStateRecord TransferState;

void ResetPageSequencing()
{
    PageSequence = {1, 1, 1, 1};
    if (TransferState.HeldPage)
        GlobalFree(TransferState.HeldPage);
    if (TransferState.PageFileHandle && TransferState.PageFileHandle != INVALID_HANDLE_VALUE)
        CloseHandle(TransferState.PageFileHandle);
    TransferState = {};
}

bool MorePagesPending() { return PageSequence.PagesRemaining != 0; }

void AbortTransfer()
{
    if (TransferState.HeldPage) {
        GlobalFree(TransferState.HeldPage);
        TransferState.HeldPage = nullptr;
    }
    TransferState.PageRowBytes = 0;
    PageSequence.PagesRemaining = 0;
    NotifyCloseDsReq();
}

void ResetMemoryTransferCounters()
{
    TransferState.StripBytesPerRow = 0;
    TransferState.StripRowOffset = 0;
}

int GetRangeLastPage() { return PageSequence.RangeLastPage; }
void SetRangeLastPage(int page) { PageSequence.RangeLastPage = page; }
int GetRangePageCount() { return PageSequence.RangePageCount; }
void SetRangePageCount(int count) { PageSequence.RangePageCount = count; }
int GetCurrentPage() { return PageSequence.CurrentPage; }
void SetCurrentPage(int page) { PageSequence.CurrentPage = page; }
int GetPagesRemaining() { return PageSequence.PagesRemaining; }
void StartDocumentPages() { PageSequence.PagesRemaining = PageSequence.RangePageCount; }
void ClearPagesPending() { PageSequence.PagesRemaining = 0; }
