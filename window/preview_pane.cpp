#include "window/preview_pane.h"

#include "window/browser_page.h"

PreviewSurfaceRecord PreviewSurface;

bool CreatePreviewSurface()
{
    ReleasePreviewSurface();
    HWND page = BrowserState.page;
    HWND pane = GetDlgItem(page, PreviewPaneId);
    if (!pane)
        return false;
    RECT area;
    GetClientRect(pane, &area);
    MapWindowPoints(pane, page, reinterpret_cast<POINT*>(&area), 2);
    PreviewSurface.pane = area;
    HDC display = GetDC(page);
    PreviewSurface.surface = CreateCompatibleDC(display);
    PreviewSurface.bitmap = CreateCompatibleBitmap(display, area.right - area.left, area.bottom - area.top);
    if (PreviewSurface.surface && PreviewSurface.bitmap)
        PreviewSurface.replaced = static_cast<HBITMAP>(SelectObject(PreviewSurface.surface, PreviewSurface.bitmap));
    ReleaseDC(page, display);
    return PreviewSurface.bitmap != nullptr;
}

void ReleasePreviewSurface()
{
    if (PreviewSurface.surface && PreviewSurface.replaced)
        SelectObject(PreviewSurface.surface, PreviewSurface.replaced);
    if (PreviewSurface.bitmap)
        DeleteObject(PreviewSurface.bitmap);
    if (PreviewSurface.surface)
        DeleteDC(PreviewSurface.surface);
    PreviewSurface = PreviewSurfaceRecord{};
}

void ClearPreview()
{
    if (!PreviewSurface.surface)
        return;
    const RECT& pane = PreviewSurface.pane;
    HBRUSH grey = CreateSolidBrush(RGB(119, 119, 119));
    HGDIOBJ previous = SelectObject(PreviewSurface.surface, grey);
    Rectangle(PreviewSurface.surface, 0, 0, pane.right - pane.left, pane.bottom - pane.top);
    SelectObject(PreviewSurface.surface, previous);
    DeleteObject(grey);
    InvalidateRect(GetDlgItem(BrowserState.page, PreviewPaneId), nullptr, FALSE);
}

void PaintPreview()
{
    if (!PreviewSurface.surface || !BrowserState.page)
        return;
    const RECT& pane = PreviewSurface.pane;
    HDC display = GetDC(BrowserState.page);
    BitBlt(display, pane.left, pane.top, pane.right - pane.left, pane.bottom - pane.top, PreviewSurface.surface, 0,
           0, SRCCOPY);
    ReleaseDC(BrowserState.page, display);
}
