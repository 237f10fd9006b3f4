#include "tools/test_source/source_window.h"

#include <cstdio>

#include "tools/test_source/source_log.h"
#include "tools/test_source/source_script.h"
#include "tools/test_source/test_source.h"

namespace {

constexpr const char* TestWindowClass = "QrvTestSourceWindow";

void AddControls(HWND window, HINSTANCE instance)
{
    HWND list = CreateWindowExA(WS_EX_CLIENTEDGE, "LISTBOX", "",
                                WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY,
                                10, 10, 200, 150, window, HMENU(INT_PTR(PageListId)), instance, nullptr);
    for (int i = 0; i < Script.pageCount; ++i) {
        char text[64];
        snprintf(text, sizeof text, "Page %d: %d x %d, %d bit", i + 1, Script.pages[i].width,
                 Script.pages[i].height, Script.pages[i].bits);
        SendMessageA(list, LB_ADDSTRING, 0, LPARAM(text));
    }
    CreateWindowExA(0, "BUTTON", "Transfer", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
                    220, 10, 80, 24, window, HMENU(INT_PTR(IDOK)), instance, nullptr);
    CreateWindowExA(0, "BUTTON", "Cancel", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
                    220, 40, 80, 24, window, HMENU(INT_PTR(IDCANCEL)), instance, nullptr);
}

void OnTransfer(HWND window)
{
    LRESULT selected = SendDlgItemMessageA(window, PageListId, LB_GETCURSEL, 0, 0);
    int first = selected == LB_ERR ? 0 : int(selected);
    LogLine("window transfer from %d", first);
    if (Source.state == 5)
        SendXferReady(first);
}

void OnCommand(HWND window, WPARAM wParam)
{
    switch (LOWORD(wParam)) {
    case IDOK:
        OnTransfer(window);
        break;
    case IDCANCEL:
        LogLine("window cancel");
        SendCloseRequest();
        break;
    case PageListId:
        if (HIWORD(wParam) == LBN_SELCHANGE)
            LogLine("window selected %d", int(SendDlgItemMessageA(window, PageListId, LB_GETCURSEL, 0, 0)));
        break;
    }
}

// The window never closes itself: closing asks the application to close the source.
void OnClose()
{
    LogLine("window close");
    SendCloseRequest();
}

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        OnCommand(window, wParam);
        return 0;
    case WM_CLOSE:
        OnClose();
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

bool RegisterTestWindowClass(HINSTANCE instance)
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = TestWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = HBRUSH(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = TestWindowClass;
    return RegisterClassA(&windowClass) != 0;
}

void UnregisterTestWindowClass(HINSTANCE instance)
{
    UnregisterClassA(TestWindowClass, instance);
}

HWND CreateTestWindow(HINSTANCE instance)
{
    HWND window = CreateWindowExA(0, TestWindowClass, Script.productName,
                                  WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 330, 210, nullptr,
                                  nullptr, instance, nullptr);
    if (window)
        AddControls(window, instance);
    return window;
}
