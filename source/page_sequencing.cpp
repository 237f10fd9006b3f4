#include "source/page_sequencing.h"

#include "source/manager_notifications.h"
#include "source/page_strips.h"
#include "window/download_chain.h"
#include "window/progress_window.h"

PageSequenceRecord PageSequence;
TransferStateRecord TransferState;

void ResetPageSequencing()
{
    PageSequence = {1, 1, 1, 1};
    FreeHeldPage();
    ClosePageFile();
    TransferState = {};
}

bool MorePagesPending() { return PageSequence.PagesRemaining != 0; }

void FreeHeldPage()
{
    if (TransferState.HeldPage) {
        GlobalFree(TransferState.HeldPage);
        TransferState.HeldPage = nullptr;
    }
}

void AbortTransfer()
{
    FreeHeldPage();
    TransferState.PageRowBytes = 0;
    // The page open for strips is let go as well: an open handle would keep its file from
    // being deleted with the work directory.
    ClosePageFile();
    PageSequence.PagesRemaining = 0;
    NotifyCloseDsReq();
}

void ResetMemoryTransferCounters()
{
    TransferState.StripBytesPerRow = 0;
    TransferState.StripRowOffset = 0;
}

void FinishPage()
{
    ProgressStep();
    if (PageSequence.CurrentPage == PageSequence.RangeLastPage) {
        // The application may still hold the document's last page file for a moment.
        Sleep(100);
        AfterDocument();
    }
    AdvancePage();
}

void AdvancePage()
{
    if (!ProgressContinues()) {
        PageSequence.PagesRemaining = 0;
    } else {
        PageSequence.CurrentPage += 1;
        PageSequence.PagesRemaining -= 1;
        if (PageSequence.PagesRemaining > 0) {
            if (!PreparePage(PageSequence.CurrentPage)) {
                // The rest of this document is dropped; the batch goes on with the next one.
                PageSequence.PagesRemaining = 0;
                NextDocument();
            }
        } else {
            PageSequence.PagesRemaining = 0;
            NextDocument();
        }
    }
    FreeHeldPage();
    TransferState.PageRowBytes = 0;
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
