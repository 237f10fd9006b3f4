// The preview pane of the browser page: a memory surface that always holds the pane's picture,
// so that painting is one copy.
#pragma once

#include <windows.h>

constexpr int PreviewPaneId = 1033;

struct PreviewSurfaceRecord {
    RECT pane;  // control 1033's client area in the page's coordinates
    HDC surface;
    HBITMAP bitmap;
    HBITMAP replaced;
};

extern PreviewSurfaceRecord PreviewSurface;

// True when the surface and its bitmap exist.
bool CreatePreviewSurface();
void ReleasePreviewSurface();
// A grey pane with a black frame.
void ClearPreview();
// The answer to WM_DRAWITEM for the pane.
void PaintPreview();

// Forgets the shown document: no file, grey pane, page edits 1, empty labels.
void ResetDocumentView();
// Shows a page of the document of a list item; page 0 is a newly chosen document, shown from
// its first page. The document's file is fetched once and reused.
void ShowDocument(int item, int page);
// Draws the current page file into the pane, keeping the page's physical proportions.
void RenderPreview();
// The page number edit and the count label show a document of pages pages.
void SetPageCount(int pages);
// The page range's up-down controls run from 1 to pages.
void SetRangeLimits(int pages);
// The page number edit's value; 1 for 0, 1 and anything that is not a number.
int ReadPageNumber();
// Brings the page number edit inside the shown document's pages.
void ClampPageNumber();
// Moves the page number by delta; 0 shows the page the edit names.
void StepPage(int delta);
