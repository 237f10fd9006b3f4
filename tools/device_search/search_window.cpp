#include "tools/device_search/search_window.h"

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <thread>

namespace {

constexpr UINT SearchDoneMessage = WM_APP + 1;
constexpr UINT_PTR ProgressTimer = 1;
constexpr int ProgressBarId = 100;
constexpr const char* WindowClass = "QrvDeviceSearch";

// The search in progress, shared by the window and the worker thread.
struct SearchRun {
    const std::vector<ProbeTarget>* targets = nullptr;
    bool loopbackOnly = false;
    std::atomic<bool> cancel{false};
    std::atomic<int> done{0};
    std::vector<DeviceFound> found;
    HWND window = nullptr;
};

SearchRun Run;

void OnCreate(HWND window)
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    HWND label = CreateWindowExA(0, "STATIC", "Searching the network for devices...", WS_CHILD | WS_VISIBLE, 12, 12,
                                 296, 16, window, nullptr, instance, nullptr);
    HWND bar = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 12, 34, 296, 16, window,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(ProgressBarId)), instance, nullptr);
    HWND cancel = CreateWindowExA(0, "BUTTON", "Cancel", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 228,
                                  60, 80, 24, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDCANCEL)),
                                  instance, nullptr);
    for (HWND control : {label, bar, cancel})
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SendMessageA(bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(Run.targets->size()));
    SetTimer(window, ProgressTimer, 100, nullptr);
}

void OnTimer(HWND window)
{
    SendDlgItemMessageA(window, ProgressBarId, PBM_SETPOS, static_cast<WPARAM>(Run.done.load()), 0);
}

void OnCancel(HWND window)
{
    Run.cancel = true;
    EnableWindow(GetDlgItem(window, IDCANCEL), FALSE);
}

LRESULT CALLBACK SearchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        OnCreate(window);
        return 0;
    case WM_TIMER:
        OnTimer(window);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL)
            OnCancel(window);
        return 0;
    case WM_CLOSE:
        OnCancel(window);
        return 0;
    case SearchDoneMessage:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        KillTimer(window, ProgressTimer);
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

void SearchWorker()
{
    ProbeTimeouts timeouts;
    Run.found = ProbeTargets(*Run.targets, timeouts, Run.loopbackOnly, Run.cancel, Run.done);
    PostMessageA(Run.window, SearchDoneMessage, 0, 0);
}

HWND CreateSearchWindow()
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = SearchWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_APPSTARTING));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = WindowClass;
    RegisterClassA(&windowClass);
    DWORD style = WS_CAPTION | WS_SYSMENU | WS_POPUP;
    RECT frame{0, 0, 320, 96};
    AdjustWindowRect(&frame, style, FALSE);
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    return CreateWindowExA(WS_EX_TOPMOST, WindowClass, SearchCaption, style, x, y, width, height, nullptr, nullptr,
                           instance, nullptr);
}

}  // namespace

SearchOutcome RunSearchWindow(const std::vector<ProbeTarget>& targets, bool loopbackOnly,
                              std::vector<DeviceFound>& found)
{
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    Run.targets = &targets;
    Run.loopbackOnly = loopbackOnly;
    Run.window = CreateSearchWindow();
    if (!Run.window) {
        // No window to show: search all the same, there is nothing to cancel with.
        found = ProbeTargets(targets, ProbeTimeouts{}, loopbackOnly, Run.cancel, Run.done);
        return SearchOutcome::Finished;
    }
    ShowWindow(Run.window, SW_SHOWNORMAL);
    std::thread worker(SearchWorker);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageA(Run.window, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    worker.join();
    found = Run.found;
    return Run.cancel ? SearchOutcome::Cancelled : SearchOutcome::Finished;
}
