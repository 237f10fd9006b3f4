#include "device/protocol_library/wait_window.h"

#include <algorithm>

namespace {

constexpr char WaitClassName[] = "QrvxpmnsWaitWindow";
constexpr int TextId = 100;
constexpr DWORD PollInterval = 20;

// Registered while at least one wait window exists: the class must not outlive the library.
int ClassUsers = 0;

struct WaitWindowState {
    bool cancelled = false;
    HFONT font = nullptr;
};

void OnCreate(HWND window, const CREATESTRUCTA* create)
{
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
}

void OnCommand(HWND window, WPARAM wParam)
{
    int id = LOWORD(wParam);
    if (id != IDCANCEL && id != IDOK)
        return;
    auto* state = reinterpret_cast<WaitWindowState*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (state)
        state->cancelled = true;
}

LRESULT CALLBACK WaitWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        OnCreate(window, reinterpret_cast<const CREATESTRUCTA*>(lParam));
        return 0;
    case WM_COMMAND:
        OnCommand(window, wParam);
        return 0;
    case WM_CLOSE:
        OnCommand(window, IDCANCEL);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool RegisterWaitClass()
{
    if (ClassUsers > 0) {
        ++ClassUsers;
        return true;
    }
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WaitWindowProc;
    windowClass.hInstance = LibraryModule;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = WaitClassName;
    if (!RegisterClassExA(&windowClass))
        return false;
    ClassUsers = 1;
    return true;
}

void UnregisterWaitClass()
{
    if (--ClassUsers == 0)
        UnregisterClassA(WaitClassName, LibraryModule);
}

SIZE TextSize(HFONT font, const std::string& text)
{
    RECT bounds{0, 0, 400, 0};
    HDC screen = GetDC(nullptr);
    HGDIOBJ old = SelectObject(screen, font);
    DrawTextA(screen, text.c_str(), -1, &bounds, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(screen, old);
    ReleaseDC(nullptr, screen);
    return {bounds.right - bounds.left, bounds.bottom - bounds.top};
}

HWND CreateWaitWindow(const WaitWindowSettings& settings, WaitWindowState& state)
{
    if (!RegisterWaitClass())
        return nullptr;
    state.font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    SIZE text = TextSize(state.font, settings.text);
    int clientWidth = std::max<int>(260, text.cx + 48);
    int buttonWidth = 88, buttonHeight = 26, margin = 20;
    int clientHeight = margin + text.cy + margin + buttonHeight + margin;
    RECT frame{0, 0, clientWidth, clientHeight};
    DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;

    HWND window = CreateWindowExA(exStyle, WaitClassName, settings.caption.c_str(), style, x, y, width, height,
                                  GetActiveWindow(), nullptr, LibraryModule, &state);
    if (!window) {
        UnregisterWaitClass();
        return nullptr;
    }
    HWND label = CreateWindowExA(0, "STATIC", settings.text.c_str(), WS_CHILD | WS_VISIBLE | SS_CENTER | SS_NOPREFIX,
                                 margin, margin, clientWidth - 2 * margin, text.cy, window,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(TextId)), LibraryModule, nullptr);
    HWND button = CreateWindowExA(0, "BUTTON", settings.button.c_str(),
                                  WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, (clientWidth - buttonWidth) / 2,
                                  clientHeight - margin - buttonHeight, buttonWidth, buttonHeight, window,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDCANCEL)), LibraryModule, nullptr);
    for (HWND child : {label, button})
        if (child)
            SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(state.font), FALSE);
    ShowWindow(window, SW_SHOW);
    if (button)
        SetFocus(button);
    UpdateWindow(window);
    return window;
}

void DestroyWaitWindow(HWND window)
{
    DestroyWindow(window);
    UnregisterWaitClass();
}

bool IsUserInput(UINT message)
{
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) || (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
           (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK);
}

bool Elapsed(DWORD now, LONG since, DWORD limit)
{
    return limit != 0 && now - static_cast<DWORD>(since) >= limit;
}

bool TimedOut(const HttpJob& job)
{
    DWORD now = GetTickCount();
    const Timeouts& limits = job.timeouts;
    if (Elapsed(now, static_cast<LONG>(job.startTick), limits.total))
        return true;
    switch (job.phase) {
    case PhaseConnecting:
        return Elapsed(now, job.phaseTick, limits.connect);
    case PhaseSending:
        return Elapsed(now, job.phaseTick, limits.send);
    default:
        return Elapsed(now, job.activityTick, limits.receive);
    }
}

}  // namespace

WaitOutcome WaitForJob(HttpJob& job, const WaitWindowSettings& settings)
{
    WaitWindowState state;
    HWND window = nullptr;
    bool quit = false;
    WPARAM quitCode = 0;
    WaitOutcome outcome;
    for (;;) {
        if (WaitForSingleObject(job.done, 0) == WAIT_OBJECT_0) {
            outcome = WaitOutcome::Finished;
            break;
        }
        if (state.cancelled) {
            outcome = WaitOutcome::Cancelled;
            break;
        }
        if (TimedOut(job)) {
            outcome = WaitOutcome::TimedOut;
            break;
        }
        if (!window && settings.wanted && GetTickCount() - job.startTick >= settings.delay)
            window = CreateWaitWindow(settings, state);

        MsgWaitForMultipleObjectsEx(1, &job.done, PollInterval, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        MSG message;
        while (!quit && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                // Whoever asked the thread to end is told again once the wait is over.
                quit = true;
                quitCode = message.wParam;
                state.cancelled = true;
                break;
            }
            // Modal to the thread: input reaches the wait window only.
            bool forWaitWindow = window && (message.hwnd == window || IsChild(window, message.hwnd));
            if (IsUserInput(message.message) && !forWaitWindow)
                continue;
            if (forWaitWindow && IsDialogMessageA(window, &message))
                continue;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    if (window)
        DestroyWaitWindow(window);
    if (quit)
        PostQuitMessage(static_cast<int>(quitCode));
    return outcome;
}
