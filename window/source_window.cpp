#include "window/source_window.h"

#include <commctrl.h>

#include "device/config_store.h"
#include "device/window_routines.h"
#include "source/manager_notifications.h"
#include "source/source_state.h"
#include "window/browser_page.h"
#include "window/browser_state.h"
#include "window/information_page.h"

PageDescriptor PageTable[PageCount] = {
    {20804, BrowserPageTemplate, BrowserPageProc, nullptr, DownloadId, "InvisibleWEB", -1},
    {20803, InformationPageTemplate, InformationPageProc, nullptr, 0, "InvisibleINFO", -1},
};

namespace {

const ControlText SourceWindowTexts[] = {{0, 20800}, {-1, 0}};

HWND Tab() { return GetDlgItem(SourceWindow, TabControlId); }

PageDescriptor* PageOfTab(int tabIndex)
{
    for (PageDescriptor& page : PageTable)
        if (page.window && page.tabIndex == tabIndex)
            return &page;
    return nullptr;
}

void CreatePages(HWND window)
{
    HWND tab = GetDlgItem(window, TabControlId);
    for (int position = 0; position < PageCount; ++position) {
        PageDescriptor& page = PageTable[position];
        if (ReadIniInt("TWAIN", page.hidingKey, 0) != 0 || page.window)
            continue;
        char caption[MAX_PATH];
        LoadResourceString(page.captionString, caption, sizeof caption);
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = caption;
        page.tabIndex = static_cast<int>(SendMessageA(tab, TCM_INSERTITEMA, position, reinterpret_cast<LPARAM>(&item)));
        page.window = CreateDialogParamA(OwnModule, MAKEINTRESOURCEA(page.templateId), window, page.procedure, 0);
    }
}

void CentreOnWorkArea(HWND window)
{
    RECT work, frame;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(window, &frame);
    int left = (work.right - (frame.right - frame.left)) / 2;
    int top = (work.bottom - (frame.bottom - frame.top)) / 2;
    // A window larger than the work area keeps its caption on the screen.
    if (left < work.left)
        left = work.left;
    if (top < work.top)
        top = work.top;
    SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(window, nullptr, TRUE);
}

BOOL OnInitDialog(HWND window)
{
    SourceWindow = window;
    ApplyControlTexts(window, SourceWindowTexts);
    SetCaptionFromDriverName(window);
    if (!CreateWorkDirectory()) {
        NotifyCloseDsReq();
        return TRUE;
    }
    CreatePages(window);
    ShowPage(0);
    DisableTabTheme(GetDlgItem(window, TabControlId));
    CentreOnWorkArea(window);
    return TRUE;
}

void OnNotify(const NMHDR* header)
{
    if (header->idFrom == TabControlId && header->code == TCN_SELCHANGE)
        ShowPage(static_cast<int>(SendMessageA(Tab(), TCM_GETCURSEL, 0, 0)));
}

INT_PTR OnCommand(WPARAM wParam, LPARAM lParam)
{
    switch (LOWORD(wParam)) {
    case IDCANCEL:
        // The window never closes itself: every way out asks the application to close the source.
        NotifyCloseDsReq();
        return TRUE;
    case SelectUserId:
    case DownloadId:
    case RefreshId:
    case SaveId:
    case DefaultId:
    case SelectDeviceId:
        // Enter and the page's accelerators reach the top-level window; the page acts on them.
        if (!PageTable[0].window)
            return FALSE;
        return BrowserPageProc(PageTable[0].window, WM_COMMAND, wParam, lParam);
    default:
        return FALSE;
    }
}

void OnDestroy()
{
    for (PageDescriptor& page : PageTable) {
        if (page.window)
            DestroyWindow(page.window);
        page.window = nullptr;
        page.tabIndex = -1;
    }
    DeleteDirectoryTree(WorkDirectory);
    WorkDirectory[0] = '\0';
}

}  // namespace

INT_PTR CALLBACK SourceWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(window);
    case WM_NOTIFY:
        OnNotify(reinterpret_cast<const NMHDR*>(lParam));
        return FALSE;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE)
            UpdateWindow(window);
        return FALSE;
    case WM_COMMAND:
        return OnCommand(wParam, lParam);
    case WM_DESTROY:
        OnDestroy();
        return FALSE;
    default:
        return FALSE;
    }
}

HWND CreateSourceWindow()
{
    return CreateDialogParamA(OwnModule, MAKEINTRESOURCEA(SourceWindowTemplate), nullptr, SourceWindowProc, 0);
}

void LayoutPage(int tabIndex)
{
    PageDescriptor* page = PageOfTab(tabIndex);
    if (!page)
        return;
    HWND tab = Tab();
    RECT client;
    GetClientRect(page->window, &client);
    RECT outer = {0, 0, client.right, client.bottom};
    SendMessageA(tab, TCM_ADJUSTRECT, TRUE, reinterpret_cast<LPARAM>(&outer));
    int tabWidth = outer.right - outer.left;
    int tabHeight = outer.bottom - outer.top;
    MoveWindow(tab, 0, 0, tabWidth, tabHeight, TRUE);
    RECT display = {0, 0, tabWidth, tabHeight};
    SendMessageA(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
    MoveWindow(page->window, display.left, display.top, display.right - display.left, display.bottom - display.top,
               TRUE);
    RECT frame, inner;
    GetWindowRect(SourceWindow, &frame);
    GetClientRect(SourceWindow, &inner);
    int width = frame.right - frame.left - inner.right + tabWidth;
    int height = frame.bottom - frame.top - inner.bottom + tabHeight;
    SetWindowPos(SourceWindow, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void ShowPage(int tabIndex)
{
    if (tabIndex < 0)
        return;
    LayoutPage(tabIndex);
    for (PageDescriptor& page : PageTable) {
        if (!page.window)
            continue;
        if (page.tabIndex != tabIndex) {
            ShowWindow(page.window, SW_HIDE);
            continue;
        }
        ShowWindow(page.window, SW_SHOW);
        SetFocus(page.window);
        BringWindowToTop(page.window);
        SendMessageA(SourceWindow, DM_SETDEFID, page.defaultButton, 0);
        if (page.defaultButton)
            SendDlgItemMessageA(page.window, page.defaultButton, BM_SETSTYLE, BS_DEFPUSHBUTTON, FALSE);
    }
}
