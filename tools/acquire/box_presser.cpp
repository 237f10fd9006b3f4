#include "tools/acquire/box_presser.h"

#include <windows.h>

#include <cstring>
#include <initializer_list>

#include "tools/acquire/console_output.h"

namespace {

// The text control of a standard message box.
constexpr int BoxTextId = 0xFFFF;
constexpr int MaxRemembered = 64;

struct BoxPresser {
    HANDLE thread;
    volatile LONG stop;
    HWND pressed[MaxRemembered];  // boxes already handled and maybe not yet gone
    int pressedCount;
};

BoxPresser Presser;

BOOL CALLBACK CheckChild(HWND child, LPARAM parameter)
{
    char className[16];
    GetClassNameA(child, className, sizeof className);
    if (_stricmp(className, "Static") != 0 && _stricmp(className, "Button") != 0)
        *reinterpret_cast<bool*>(parameter) = false;
    return TRUE;
}

// A dialog with the message box's text control and nothing but texts and buttons: a source's
// own dialogs (lists, edits) are never mistaken for one.
bool IsMessageBox(HWND window)
{
    char className[16];
    if (!GetClassNameA(window, className, sizeof className) || strcmp(className, "#32770") != 0 ||
        !IsWindowVisible(window) || !GetDlgItem(window, BoxTextId))
        return false;
    bool onlyTextsAndButtons = true;
    EnumChildWindows(window, CheckChild, reinterpret_cast<LPARAM>(&onlyTextsAndButtons));
    return onlyTextsAndButtons;
}

bool AlreadyPressed(HWND box)
{
    for (int i = 0; i < Presser.pressedCount; ++i)
        if (Presser.pressed[i] == box && IsWindow(box))
            return true;
    return false;
}

void Remember(HWND box)
{
    int kept = 0;
    for (int i = 0; i < Presser.pressedCount; ++i)
        if (IsWindow(Presser.pressed[i]))
            Presser.pressed[kept++] = Presser.pressed[i];
    Presser.pressedCount = kept;
    if (Presser.pressedCount < MaxRemembered)
        Presser.pressed[Presser.pressedCount++] = box;
}

// The box's default button, else OK, Yes, Cancel or No, whichever it has.
bool IsPressable(HWND box, int id)
{
    HWND button = GetDlgItem(box, id);
    return button && IsWindowVisible(button) && IsWindowEnabled(button);
}

// The box's default button, else OK, Yes, Cancel or No, whichever it shows.
int ButtonToPress(HWND box)
{
    DWORD_PTR defaultId = 0;
    if (SendMessageTimeoutA(box, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, 1000, &defaultId) &&
        HIWORD(defaultId) == DC_HASDEFID && IsPressable(box, LOWORD(defaultId)))
        return LOWORD(defaultId);
    for (int candidate : {IDOK, IDYES, IDCANCEL, IDNO})
        if (IsPressable(box, candidate))
            return candidate;
    return IDOK;
}

void Press(HWND box)
{
    if (AlreadyPressed(box))
        return;
    Remember(box);
    char caption[256] = "", text[1024] = "";
    GetWindowTextA(box, caption, sizeof caption);
    GetDlgItemTextA(box, BoxTextId, text, sizeof text);
    int button = ButtonToPress(box);
    char buttonText[64] = "";
    GetDlgItemTextA(box, button, buttonText, sizeof buttonText);
    Say("message box: [%s] %s -> pressed %s", caption, text, buttonText);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), LPARAM(GetDlgItem(box, button)));
}

BOOL CALLBACK VisitWindow(HWND window, LPARAM)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && IsMessageBox(window))
        Press(window);
    return TRUE;
}

DWORD WINAPI WatchBoxes(LPVOID)
{
    while (!Presser.stop) {
        EnumWindows(VisitWindow, 0);
        Sleep(50);
    }
    return 0;
}

}  // namespace

void StartBoxPresser()
{
    Presser.stop = 0;
    Presser.thread = CreateThread(nullptr, 0, WatchBoxes, nullptr, 0, nullptr);
}

void StopBoxPresser()
{
    if (!Presser.thread)
        return;
    Presser.stop = 1;
    WaitForSingleObject(Presser.thread, INFINITE);
    CloseHandle(Presser.thread);
    Presser.thread = nullptr;
}
