#include "window/preview_pane.h"

#include <commctrl.h>

#include <cmath>
#include <cstdio>
#include <cstdint>

#include "device/config_store.h"
#include "device/message_presentation.h"
#include "device/storage_commands.h"
#include "device/storage_tables.h"
#include "imaging/windows/page_bitmap_builder.h"
#include "imaging/windows/page_file_io.h"
#include "imaging/windows/page_file_store.h"
#include "source/source_state.h"
#include "window/browser_state.h"
#include "window/options_panel.h"

PreviewSurfaceRecord PreviewSurface;

namespace {

constexpr UINT PageCountFormat = 160;
constexpr UINT PageSizeFormat = 161;
constexpr int TilingsMax = 64;

// Set while ShowDocument runs: its own writes of the page number must not show a page again.
bool ShowingDocument = false;

bool PreviewOn() { return IsDlgButtonChecked(BrowserState.page, PreviewCheckId) == BST_CHECKED; }

int PageMaximum()
{
    int pages = PagesOfItem(BrowserState.CurrentItem);
    return pages > 1 ? pages : 1;
}

unsigned PageEditNumber()
{
    BOOL read = FALSE;
    unsigned value = GetDlgItemInt(BrowserState.page, PageNumberEditId, &read, FALSE);
    return read ? value : 0;
}

// HALFTONE on the NT family, COLORONCOLOR elsewhere; left alone when the version is unknown.
void ChooseStretchMode(HDC surface)
{
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExA(&version))
        return;
#pragma GCC diagnostic pop
    int wanted = version.dwPlatformId == VER_PLATFORM_WIN32_NT ? HALFTONE : COLORONCOLOR;
    if (GetStretchBltMode(surface) == wanted)
        return;
    SetStretchBltMode(surface, wanted);
    if (wanted == HALFTONE)
        SetBrushOrgEx(surface, 0, 0, nullptr);
}

int DotsPerInch(LONG pixelsPerMetre)
{
    int dpi = static_cast<int>(std::ceil(pixelsPerMetre * 0.0254));
    // A page without a resolution is drawn as if square.
    return dpi > 0 ? dpi : 1;
}

struct DrawArea {
    int x, y, width, height;  // in surface coordinates
};

// The page's physical shape fitted into the pane, centred, inset by one pixel for the frame.
DrawArea FitPage(int bw, int bh, int xr, int yr)
{
    const RECT& pane = PreviewSurface.pane;
    int W = pane.right - pane.left, H = pane.bottom - pane.top;
    double A = double(bh) * xr * W;
    double B = double(bw) * yr * H;
    int x0, x1, y0, y1;
    if (A < B) {
        int dh = static_cast<int>(static_cast<int64_t>(A) / (int64_t(bw) * yr));
        x0 = pane.left;
        x1 = pane.right;
        y0 = pane.top + (H - dh) / 2;
        y1 = y0 + dh;
    } else {
        int dw = static_cast<int>(static_cast<int64_t>(B) / (int64_t(bh) * xr));
        y0 = pane.top;
        y1 = pane.bottom;
        x0 = pane.left + (W - dw) / 2;
        x1 = x0 + dw;
    }
    return {x0 + 1 - pane.left, y0 + 1 - pane.top, x1 - x0 - 2, y1 - y0 - 2};
}

// One pass in n x n tiles; false when a tile could not be drawn.
bool DrawTiles(const BITMAPINFO* info, const BYTE* bits, const DrawArea& area, int n)
{
    int bw = info->bmiHeader.biWidth, bh = info->bmiHeader.biHeight;
    int tw = area.width / n, th = area.height / n, sw = bw / n, sh = bh / n;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            // The negative height turns the tile over: the first stored row, the page's top,
            // lands at the top.
            int drawn = StretchDIBits(PreviewSurface.surface, area.x + i * tw, area.y + (j + 1) * th - 1, tw, -th,
                                      i * sw, j * sh, sw, sh, bits, info, DIB_RGB_COLORS, SRCCOPY);
            if (drawn == 0 || drawn == static_cast<int>(GDI_ERROR))
                return false;
        }
    return true;
}

void SetLabel(int id, UINT formatId, int count, const int* values)
{
    char format[260], text[260];
    if (LoadResourceString(formatId, format, sizeof format) == 0)
        format[0] = '\0';
    if (count == 1)
        snprintf(text, sizeof text, format, values[0]);
    else
        snprintf(text, sizeof text, format, values[0], values[1], values[2], values[3]);
    SetDlgItemTextA(BrowserState.page, id, text);
}

// The page as decoded, for the pane; a failure has been told to the user.
bool BuildPreviewPage(int page, PageInfo& info)
{
    PageBuildRequest request;
    request.documentPath = CurrentDocumentPath;
    request.page = page;
    request.workDirectory = WorkDirectory;
    PageBuildResult built = BuildPageBitmap(request);
    if (!built.built) {
        PresentMessage(built.messageId);
        return false;
    }
    info = built.info;
    return true;
}

void ShowDocumentPage(int item, int page)
{
    int record = RecordOfItem(item);
    if (record < 0)
        return;
    HCURSOR previous = SetCursor(LoadCursor(nullptr, IDC_WAIT));
    bool shown = true;
    if (page == 0) {
        int pages = PagesOfItem(BrowserState.CurrentItem);
        if (pages < 1)
            shown = false;
        else {
            SetPageCount(pages);
            SetRangeLimits(pages);
            page = 1;
        }
    }
    PageInfo info;
    if (shown)
        shown = DownloadDocument(DocumentTable[record]) == 1;
    if (shown && PreviewOn()) {
        shown = BuildPreviewPage(page, info);
        if (shown)
            RenderPreview();
    } else if (shown) {
        shown = GetTiffPageInfo(CurrentDocumentPath, page, info) == 1;
    }
    if (shown) {
        const int values[4] = {info.width, info.height, info.xResolution, info.yResolution};
        SetLabel(PageSizeLabelId, PageSizeFormat, 4, values);
    } else {
        ResetDocumentView();
    }
    SetCursor(previous);
}

}  // namespace

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

void RenderPreview()
{
    ClearPreview();
    if (!PreviewSurface.surface || !BrowserState.page || !PreviewOn() || !LoadPageDib())
        return;
    ChooseStretchMode(PreviewSurface.surface);
    const auto* info = static_cast<const BITMAPINFO*>(GlobalLock(GetPageDib()));
    const BITMAPINFOHEADER& header = info->bmiHeader;
    DrawArea area = FitPage(header.biWidth, header.biHeight, DotsPerInch(header.biXPelsPerMeter),
                            DotsPerInch(header.biYPelsPerMeter));
    // Ever smaller tiles for a display that cannot stretch the picture in one piece.
    for (int n = 1; n <= TilingsMax; n *= 2)
        if (DrawTiles(info, GetPageDibBits(), area, n))
            break;
    GlobalUnlock(GetPageDib());
    FreePageDib();
    InvalidateRect(PageControl(PreviewPaneId), nullptr, FALSE);
}

void ShowDocument(int item, int page)
{
    ClearPreview();
    if (!BrowserState.page || ShowingDocument)
        return;
    ShowingDocument = true;
    ShowDocumentPage(item, page);
    ShowingDocument = false;
}

void SetPageCount(int pages)
{
    if (pages < 1)
        return;
    SetDlgItemInt(BrowserState.page, PageNumberEditId, 1, FALSE);
    SetLabel(PageCountLabelId, PageCountFormat, 1, &pages);
}

void SetRangeLimits(int pages)
{
    int max = pages < 2 ? 1 : pages;
    const int ids[] = {FirstPageUpDownId, LastPageUpDownId};
    for (int id : ids) {
        SendMessageA(PageControl(id), UDM_SETRANGE32, 1, max);
        InvalidateRect(PageControl(id), nullptr, TRUE);
    }
}

int ReadPageNumber()
{
    BOOL read = FALSE;
    int value = static_cast<int>(GetDlgItemInt(BrowserState.page, PageNumberEditId, &read, TRUE));
    return read && value > 1 ? value : 1;
}

void ClampPageNumber()
{
    if (!BrowserState.page)
        return;
    unsigned max = static_cast<unsigned>(PageMaximum());
    unsigned value = PageEditNumber();
    if (value > max)
        SetDlgItemInt(BrowserState.page, PageNumberEditId, max, FALSE);
    else if (value < 1)
        SetDlgItemInt(BrowserState.page, PageNumberEditId, 1, FALSE);
}

void StepPage(int delta)
{
    if (!BrowserState.page || ShowingDocument)
        return;
    long long value = static_cast<long long>(PageEditNumber()) + delta;
    if (value > PageMaximum() || value < 1)
        return;
    if (delta == 0)
        ShowDocument(BrowserState.CurrentItem, static_cast<int>(value));
    else
        SetDlgItemInt(BrowserState.page, PageNumberEditId, static_cast<unsigned>(value), FALSE);
}

void ResetDocumentView()
{
    if (!BrowserState.page)
        return;
    CurrentDocumentPath[0] = '\0';
    ClearPreview();
    BrowserState.CurrentItem = -1;
    HWND page = BrowserState.page;
    SetDlgItemInt(page, FirstPageEditId, 1, FALSE);
    SetDlgItemInt(page, LastPageEditId, 1, FALSE);
    SetDlgItemInt(page, PageNumberEditId, 1, FALSE);
    SetDlgItemTextA(page, PageCountLabelId, "");
    SetDlgItemTextA(page, PageSizeLabelId, "");
    SetRangeLimits(1);
}
