#include "window/progress_window.h"

#include <commctrl.h>

#include <cstdio>

#include "device/config_store.h"
#include "device/window_routines.h"
#include "source/source_state.h"

ProgressStateRecord ProgressState;

namespace {

constexpr UINT ProgressFormatString = 192;  // "%d/%d transferring"
constexpr int UnitsPerPage = 3;
const ControlText ProgressWindowTexts[] = {{0, 20700}, {2, 20701}, {-1, 0}};

// The handle of the last thread started, kept by the application's thread to wait on and close
// (the thread clears ProgressState.Thread itself when it ends), and its id.
HANDLE StartedThread;
DWORD StartedThreadId;
// Set by the thread once its window is up, or has failed to come up; made for each start and
// closed once waited for, so that a source loaded and freed all day keeps no handle of it.
HANDLE WindowReady;

HWND ProgressBar() { return GetDlgItem(ProgressState.Window, ProgressBarId); }

// Waits without time limit for the object. Messages that other threads send to this one are
// served meanwhile, never posted ones.
// (A window coming up or going on the other thread may send to windows of this one.)
void WaitServingSentMessages(DWORD count, const HANDLE* objects)
{
    while (MsgWaitForMultipleObjects(count, objects, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + count) {
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

// Waits for the last thread started to end and lets its handle go.
void ReleaseStartedThread()
{
    HANDLE thread = StartedThread;
    if (!thread)
        return;
    WaitServingSentMessages(1, &thread);
    CloseHandle(thread);
    StartedThread = nullptr;
    StartedThreadId = 0;
}

void RunProgressLoop(HWND window)
{
    while (ProgressState.Running && ProgressState.Window) {
        MSG message;
        BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0)
            continue;  // a quit message: straight back to the loop test
        if (got == -1)
            break;
        if (IsDialogMessageA(window, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// The thread holds its own reference on the module whose code it runs: an application that
// closes the source while the window is up cannot unload that code under it.
DWORD WINAPI ProgressThread(void* parameter)
{
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCSTR>(&ProgressThread), &self);
    HWND window = CreateDialogParamA(OwnModule, MAKEINTRESOURCEA(ProgressWindowTemplate), nullptr,
                                     ProgressWindowProc, reinterpret_cast<LPARAM>(parameter));
    if (window)
        ShowWindow(window, SW_SHOW);
    if (WindowReady)
        SetEvent(WindowReady);
    if (window) {
        RunProgressLoop(window);
        DestroyWindow(window);
    }
    ProgressState.Running = false;
    ProgressState.Thread = nullptr;
    if (self)
        FreeLibraryAndExitThread(self, 0);
    return 0;
}

BOOL OnInitDialog(HWND window, LPARAM total)
{
    ProgressState.Window = window;
    ApplyControlTexts(window, ProgressWindowTexts);
    SetCaptionFromDriverName(window);
    InitProgress(int(total));
    return TRUE;
}

// The button, Escape and the close box: the batch ends after the page under way, and the loop
// ends at its next message, taking the window with it.
void OnCancel(HWND window)
{
    ProgressState.Running = false;
    EnableWindow(GetDlgItem(window, IDCANCEL), FALSE);
}

}  // namespace

INT_PTR CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(window, lParam);
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL)
            OnCancel(window);
        return TRUE;
    case ProgressTextMessage:
        ProgressText(int(wParam), int(lParam));
        return TRUE;
    case WM_DESTROY:
        ProgressState.Window = nullptr;
        return FALSE;
    default:
        return FALSE;
    }
}

void StartProgress(int total)
{
    if (ProgressState.Thread)
        return;
    // A thread that ended by itself (Cancel) has left its handle behind.
    ReleaseStartedThread();
    ProgressState.Running = true;
    ProgressState.Total = total;
    ProgressState.Step = 1;
    HANDLE thread = CreateThread(nullptr, 0, ProgressThread, reinterpret_cast<void*>(INT_PTR(total)),
                                 CREATE_SUSPENDED, &StartedThreadId);
    if (!thread) {
        // Without a window nobody could cancel: the batch ends after its first page, as when
        // the window cannot be created.
        ProgressState.Running = false;
        return;
    }
    StartedThread = thread;
    ProgressState.Thread = thread;
    // The first page's ticks follow at once: they must find the window counting.
    WindowReady = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ResumeThread(thread);
    if (!WindowReady)
        return;
    HANDLE waitFor[2] = {WindowReady, thread};
    WaitServingSentMessages(2, waitFor);
    // The thread has set the event, or has ended: it touches it no more.
    CloseHandle(WindowReady);
    WindowReady = nullptr;
}

void InitProgress(int total)
{
    ProgressState.Total = total;
    ProgressState.Step = 1;
    if (!ProgressState.Window)
        return;
    HWND bar = ProgressBar();
    SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, WORD(UnitsPerPage * total)));
    SendMessageA(bar, PBM_SETPOS, 0, 0);
    SendMessageA(bar, PBM_SETSTEP, 1, 0);
    ProgressText(1, total);
}

void ProgressText(int n, int total)
{
    char format[260];
    if (!LoadResourceString(ProgressFormatString, format, sizeof format))
        return;
    char text[260];
    snprintf(text, sizeof text, format, n, total);
    HWND window = ProgressState.Window;
    if (window)
        SetDlgItemTextA(window, ProgressTextId, text);
}

// The application's thread sends its updates without waiting for the window to repaint: the
// progress thread takes them in the order sent, ahead of anything posted, and a page costs no
// more than its own work. (Text cannot travel by pointer without a wait, so the numbers go and
// the window forms its text itself.)
void ProgressTick()
{
    if (ProgressState.Window)
        SendNotifyMessageA(ProgressBar(), PBM_STEPIT, 0, 0);
}

void ProgressStep()
{
    if (ProgressState.Step > ProgressState.Total)
        return;
    HWND window = ProgressState.Window;
    if (window)
        SendNotifyMessageA(ProgressBar(), PBM_SETPOS, WPARAM(UnitsPerPage * ProgressState.Step), 0);
    ProgressState.Step += 1;
    // After the last page the text keeps its last value, the total over the total.
    if (window && ProgressState.Step <= ProgressState.Total)
        SendNotifyMessageA(window, ProgressTextMessage, WPARAM(ProgressState.Step), LPARAM(ProgressState.Total));
}

bool ProgressContinues() { return ProgressState.Running; }

void StopProgress()
{
    if (ProgressState.Thread) {
        ProgressState.Running = false;
        // Before its window exists the thread is woken by a message of its own.
        HWND window = ProgressState.Window;
        if (!window || !PostMessageA(window, ProgressWakeMessage, 0, 0))
            PostThreadMessageA(StartedThreadId, ProgressWakeMessage, 0, 0);
    }
    ReleaseStartedThread();
}
