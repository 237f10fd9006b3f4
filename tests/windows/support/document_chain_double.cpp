// The download chain as the in-process transfer tests need it: the page comes from the document
// already at CurrentDocumentPath (there is no browser page to choose one from), no further
// document follows, and nothing is deleted. Linked instead of window/download_chain.cpp, whose
// symbols it all provides.
#include "window/download_chain.h"

#include "device/storage_tables.h"
#include "imaging/windows/page_bitmap_builder.h"
#include "window/progress_window.h"

void StartDownload() {}

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

void NextDocument() { CurrentDocumentPath[0] = '\0'; }

void AfterDocument() {}

int ProgressTotal() { return 0; }
