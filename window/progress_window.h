// The progress window that runs on a thread of its own while a batch is transferred.
#pragma once

#include <windows.h>

struct ProgressStateRecord {
    volatile bool Running;  // cleared by Cancel, by StopProgress and when the thread ends
    HANDLE Thread;
    HWND Window;
    int Total;
    int Step;
};

extern ProgressStateRecord ProgressState;

// Wakes the progress thread's loop.
constexpr UINT ProgressWakeMessage = WM_USER + 1;

bool ProgressContinues();
// Ends the window and waits until its thread has ended; returns at once when there is none.
void StopProgress();
