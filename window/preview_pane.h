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
