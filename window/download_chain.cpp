#include "window/download_chain.h"

#include <windows.h>
#include <commctrl.h>

#include "device/config_store.h"
#include "device/message_presentation.h"
#include "device/storage_commands.h"
#include "device/storage_tables.h"
#include "imaging/windows/page_bitmap_builder.h"
#include "source/capability_store.h"
#include "source/manager_notifications.h"
#include "source/page_sequencing.h"
#include "source/source_state.h"
#include "window/browser_state.h"
#include "window/options_panel.h"
#include "window/preview_pane.h"
#include "window/progress_window.h"

namespace {

// What the transfers call between pages.
const BatchSteps DownloadSteps = {PreparePage, NextDocument, AfterDocument, ProgressStep, ProgressContinues};

// The page chosen for "Current page" when the batch started: every document sends that page.
int BatchPage = 1;

// With nothing on show, the first selected item with pages, walking the selection in list
// order until an item without a record; -1 when there is none.
int ChooseFirstDocument()
{
    int item = -1;
    for (int steps = SelectedItemCount(); steps > 0; --steps) {
        item = NextSelectedItem(item);
        if (item < 0 || RecordOfItem(item) < 0)
            return -1;
        if (PagesOfItem(item) > 0)
            return item;
    }
    return -1;
}

}  // namespace

void StartDownload()
{
    if (!BrowserState.page)
        return;
    ClampPageNumber();
    HWND focus = GetFocus();
    if (focus && GetParent(focus) == BrowserState.page)
        ClampRangeEdit(GetDlgCtrlID(focus));
    BatchPage = ReadPageNumber();
    if (CurrentDocumentPath[0] == '\0')
        BrowserState.CurrentItem = ChooseFirstDocument();
    int pages = PagesOfItem(BrowserState.CurrentItem);
    if (pages < 1)
        return;
    int first = ComputeTransferRange(BatchPage, pages);
    if (SourceWindow)
        EnableWindow(SourceWindow, FALSE);
    SetCurrentPage(first);
    SetFeederEnabled(true);
    StartDocumentPages();
    int total = ProgressTotal();
    BeginBatch(DownloadSteps, total, GetXferCount());
    StartProgress(total);
    if (PreparePage(first)) {
        NotifyXferReady();
    } else {
        // Nothing may stay pending for a batch that never started.
        ClearPagesPending();
        NotifyCloseDsReq();
    }
}

int PreparePage(int page)
{
    int record = RecordOfItem(BrowserState.CurrentItem);
    if (record < 0)
        return 0;
    // A copy: the request may refill the tables while it waits.
    DocumentRecord document = DocumentTable[record];
    if (DownloadDocument(document) != 1)
        return 0;
    ProgressTick();
    if (!BuildTransferPage(page))
        return 0;
    ProgressTick();
    return 1;
}

int BuildTransferPage(int page)
{
    PageBuildRequest request;
    request.documentPath = CurrentDocumentPath;
    request.page = page;
    request.workDirectory = WorkDirectory;
    request.convert = true;
    request.conversion = TransferConversionSettings();
    PageBuildResult built = BuildPageBitmap(request);
    if (!built.built) {
        PresentMessage(built.messageId);
        return 0;
    }
    return 1;
}

void NextDocument()
{
    CurrentDocumentPath[0] = '\0';
    for (int item = NextSelectedItem(BrowserState.CurrentItem); item >= 0; item = NextSelectedItem(item)) {
        BrowserState.CurrentItem = item;
        if (RecordOfItem(item) < 0)
            return;
        int pages = PagesOfItem(item);
        if (pages < 1)
            return;
        // A document without the page chosen for "Current page" sends nothing, is not fetched
        // and is not deleted: the batch goes on with the next one.
        if (RangeOfDocument(BatchPage, pages).count == 0)
            continue;
        // The page number going back to 1 is no request to show that page: a preview fetched
        // and built here would take the place of the page being prepared.
        BrowserState.ready = false;
        SetPageCount(pages);
        BrowserState.ready = true;
        int first = ComputeTransferRange(BatchPage, pages);
        if (!PreparePage(first))
            return;
        SetCurrentPage(first);
        StartDocumentPages();
        return;
    }
}

void AfterDocument()
{
    if (BrowserState.page && IsDlgButtonChecked(BrowserState.page, DeleteAfterId) == BST_CHECKED)
        DeleteCurrentDocument();
}

int ProgressTotal()
{
    // The documents the batch walks: the first one, then the selected ones after it, up to the
    // first row without a record or without pages; each with its own range.
    int total = 0;
    for (int item = BrowserState.CurrentItem; item >= 0; item = NextSelectedItem(item)) {
        if (RecordOfItem(item) < 0)
            break;
        int pages = PagesOfItem(item);
        if (pages < 1)
            break;
        total += RangeOfDocument(BatchPage, pages).count;
    }
    int limit = GetXferCount();
    return limit > 0 && total > limit ? limit : total;
}
