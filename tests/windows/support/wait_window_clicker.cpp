#include "tests/windows/support/wait_window_clicker.h"

namespace {

struct Search {
    DWORD process;
    HWND found;
};

BOOL CALLBACK FindInProcess(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[64];
    if (process == search->process && IsWindowVisible(window) && GetClassNameA(window, className, sizeof className) &&
        strcmp(className, WaitWindowClass) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

std::string TextOf(HWND window)
{
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

HWND ChildOfClass(HWND parent, const char* wanted)
{
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char className[64];
        if (GetClassNameA(child, className, sizeof className) && _stricmp(className, wanted) == 0)
            return child;
    }
    return nullptr;
}

}  // namespace

HWND FindWaitWindow()
{
    Search search{GetCurrentProcessId(), nullptr};
    EnumWindows(FindInProcess, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

WaitWindowClicker::WaitWindowClicker(DWORD clickAfter, UINT key)
    : clickAfter_(clickAfter), key_(key), thread_([this] { Watch(); })
{
}

WaitWindowClicker::~WaitWindowClicker()
{
    stop_ = true;
    thread_.join();
}

bool WaitWindowClicker::WaitForClick(DWORD timeout)
{
    for (DWORD waited = 0; !clicked_ && waited < timeout; waited += 10)
        Sleep(10);
    return clicked_;
}

void WaitWindowClicker::Watch()
{
    HWND window = nullptr;
    while (!stop_ && !(window = FindWaitWindow()))
        Sleep(5);
    if (!window)
        return;
    seen_.caption = TextOf(window);
    HWND label = ChildOfClass(window, "Static");
    HWND button = GetDlgItem(window, IDCANCEL);
    seen_.text = label ? TextOf(label) : "";
    seen_.button = button ? TextOf(button) : "";
    Sleep(clickAfter_);
    // As a person would: only an enabled, visible button can be clicked.
    seen_.buttonEnabled = button && IsWindowEnabled(button) && IsWindowVisible(button);
    if (!seen_.buttonEnabled || stop_)
        return;
    RECT area;
    GetClientRect(button, &area);
    LPARAM centre = MAKELPARAM((area.right - area.left) / 2, (area.bottom - area.top) / 2);
    seen_.clickTick = GetTickCount();
    if (key_) {
        PostMessageA(button, WM_KEYDOWN, key_, 1);
        PostMessageA(button, WM_KEYUP, key_, 0xC0000001);
    } else {
        PostMessageA(button, WM_LBUTTONDOWN, MK_LBUTTON, centre);
        PostMessageA(button, WM_LBUTTONUP, 0, centre);
    }
    clicked_ = true;
}
