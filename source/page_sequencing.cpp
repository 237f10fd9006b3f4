#include "source/page_sequencing.h"

#include <windows.h>

#include "source/manager_notifications.h"
#include "source/transfer_state.h"

PageSequenceRecord PageSequence;
BatchSteps Batch;

namespace {

bool PrepareNextPage(int page) { return Batch.preparePage && Batch.preparePage(page); }

void MoveToNextDocument()
{
    if (Batch.nextDocument)
        Batch.nextDocument();
}

}  // namespace

void ResetPageSequencing()
{
    PageSequence = {1, 1, 1, 1};
    Batch = {};
    LetGoOfPage();
    TransferState = {};
}

void BeginBatch(const BatchSteps& steps) { Batch = steps; }

bool MorePagesPending() { return PageSequence.PagesRemaining != 0; }

void AbortTransfer()
{
    LetGoOfPage();
    PageSequence.PagesRemaining = 0;
    NotifyCloseDsReq();
}

void FinishPage()
{
    if (Batch.pageDone)
        Batch.pageDone();
    if (PageSequence.CurrentPage == PageSequence.RangeLastPage) {
        // The application may still hold the document's last page file for a moment.
        Sleep(100);
        if (Batch.afterDocument)
            Batch.afterDocument();
    }
    AdvancePage();
}

void AdvancePage()
{
    if (Batch.goesOn && !Batch.goesOn()) {
        PageSequence.PagesRemaining = 0;
    } else {
        PageSequence.CurrentPage += 1;
        PageSequence.PagesRemaining -= 1;
        if (PageSequence.PagesRemaining > 0) {
            if (!PrepareNextPage(PageSequence.CurrentPage)) {
                // The rest of this document is dropped; the batch goes on with the next one.
                PageSequence.PagesRemaining = 0;
                MoveToNextDocument();
            }
        } else {
            PageSequence.PagesRemaining = 0;
            MoveToNextDocument();
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
