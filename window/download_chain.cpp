#include "window/download_chain.h"

#include "device/storage_tables.h"
#include "imaging/windows/page_bitmap_builder.h"
#include "window/progress_window.h"

// The document is the one at CurrentDocumentPath. Fetching it first for the list item being
// sent (RecordOfItem, DownloadDocument) comes with the walk over the browser page's choice.
int PreparePage(int page)
{
    if (CurrentDocumentPath[0] == '\0')
        return 0;
    ProgressTick();
    if (!BuildPageBitmap(CurrentDocumentPath, page, true, nullptr))
        return 0;
    ProgressTick();
    return 1;
}

// The walk over the browser page's selected items is not there yet: no further document is
// chosen, so the batch ends with the current document and nothing stays pending.
void NextDocument() { CurrentDocumentPath[0] = '\0'; }

// Deleting the document on the device ("De&lete after download") comes with the browser page's
// DeleteCurrentDocument; until then nothing is deleted.
void AfterDocument() {}
