// Which page goes out next: the counters of the batch, and what happens after every page the
// application has taken.
#pragma once

#include "source/twain.h"

// Counters of the batch, set by the download chain through the accessors below.
struct PageSequenceRecord {
    int CurrentPage;     // 1-based page number, within its document, of the current page file
    int RangeLastPage;   // last page of the range chosen for the current document
    int RangePageCount;  // pages the chosen range takes from each document
    int PagesRemaining;  // pages of the current document not yet completed; 0 = nothing pending
    int PagesSent;       // pages of the batch the application has taken
    int PagesPlanned;    // pages the batch is to send, as its documents' ranges promise
    int PageLimit;       // most pages the application takes in the batch; -1 for any number
};

// What the batch does around its pages, handed over by whoever starts the batch (the download
// chain): the transfers call it after each page and know nothing of the window. A step left empty
// does nothing; without a next page or document nothing stays pending.
struct BatchSteps {
    int (*preparePage)(int page);  // makes that page of the current document ready: 1, or 0
    void (*nextDocument)();        // the next chosen document and its first page, if any
    void (*afterDocument)();       // the current document's last page of the range has gone out
    void (*pageDone)();            // the progress window counts the page
    bool (*goesOn)();              // false once the user has cancelled
};

extern PageSequenceRecord PageSequence;
extern BatchSteps Batch;

void ResetPageSequencing();  // values at load
// The steps of the batch about to start, the pages it plans to send and the application's limit
// (CAP_XFERCOUNT; -1 for none). The batch never sends more than the limit.
void BeginBatch(const BatchSteps& steps, int plannedPages, int pageLimit);

bool MorePagesPending();
// What MSG_ENDXFER reports while pages remain: the pages still to come when the application set a
// limit (the fewer of those planned and those the limit allows, at least 1), else -1 (0xFFFF),
// "more follow".
TW_UINT16 PagesStillToCome();
// Ends the batch: the page held or open is let go, nothing stays pending, the manager is asked
// to close the source.
void AbortTransfer();

// After every completed transfer: the progress window counts the page, a document whose last
// page of the range went out is finished, and the batch moves on.
void FinishPage();
// The next page of the range, or the next chosen document; nothing pending once the user has
// cancelled in the progress window.
void AdvancePage();

int GetRangeLastPage();
void SetRangeLastPage(int page);
int GetRangePageCount();
void SetRangePageCount(int count);
int GetCurrentPage();
void SetCurrentPage(int page);
int GetPagesRemaining();
void StartDocumentPages();
void ClearPagesPending();
