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
    PageSequence = {1, 1, 1, 1, 0, 0, -1};
    Batch = {};
    LetGoOfPage();
    TransferState = {};
}

void BeginBatch(const BatchSteps& steps, int plannedPages, int pageLimit)
{
    Batch = steps;
    PageSequence.PagesSent = 0;
    PageSequence.PageLimit = pageLimit > 0 ? pageLimit : -1;
    PageSequence.PagesPlanned = pageLimit > 0 && plannedPages > pageLimit ? pageLimit : plannedPages;
}

bool MorePagesPending() { return PageSequence.PagesRemaining != 0; }

TW_UINT16 PagesStillToCome()
{
    if (PageSequence.PageLimit < 0)
        return 0xFFFF;
    int planned = PageSequence.PagesPlanned - PageSequence.PagesSent;
    int allowed = PageSequence.PageLimit - PageSequence.PagesSent;
    int count = planned < allowed ? planned : allowed;
    return static_cast<TW_UINT16>(count > 0 ? count : 1);
}

void AbortTransfer()
{
    LetGoOfPage();
    PageSequence.PagesRemaining = 0;
    NotifyCloseDsReq();
}

void FinishPage()
{
    PageSequence.PagesSent += 1;
    if (Batch.pageDone)
        Batch.pageDone();
    // Only a document whose every chosen page went out is finished (and may be deleted).
    if (PageSequence.CurrentPage == PageSequence.RangeLastPage) {
        // The application may still hold the document's last page file for a moment.
        Sleep(100);
        if (Batch.afterDocument)
            Batch.afterDocument();
    }
    if (PageSequence.PageLimit > 0 && PageSequence.PagesSent >= PageSequence.PageLimit) {
        // The application takes no more: the batch ends as after its last page, and nothing
        // further is fetched or built.
        PageSequence.PagesRemaining = 0;
        FreeHeldPage();
        TransferState.PageRowBytes = 0;
        return;
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
