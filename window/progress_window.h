// The progress window that runs on a thread of its own while a batch is transferred: a bar of
// three units per page, the line "n/total transferring" and a Cancel button that ends the batch
// after the page under way.
#pragma once

#include <windows.h>

constexpr int ProgressWindowTemplate = 10012;
constexpr int ProgressBarId = 1048;
constexpr int ProgressTextId = 1051;

struct ProgressStateRecord {
    volatile bool Running;  // cleared by Cancel, by StopProgress and when the thread ends
    HANDLE volatile Thread; // none while no progress thread exists
    HWND volatile Window;   // none before the window exists and after its destruction
    int Total;              // pages of the batch
    int Step;               // 1-based number of the page being worked on
};

extern ProgressStateRecord ProgressState;

// Wakes the progress thread's loop.
constexpr UINT ProgressWakeMessage = WM_USER + 1;
// The text line for page wParam of lParam, sent by the application's thread (clear of the
// dialog messages, which take the first WM_USER numbers).
constexpr UINT ProgressTextMessage = WM_APP + 1;

// Starts the window for a batch of total pages; does nothing while a progress thread exists.
void StartProgress(int total);
// Keeps total, starts counting at page 1 and sets the bar and the text for it.
void InitProgress(int total);
// One unit forward: the page's document is there, or the page has been built.
void ProgressTick();
// A page has been transferred: the bar stands at three units per page done, the text names the
// next page.
void ProgressStep();
// Shows "n/total transferring" in the window's text line.
void ProgressText(int n, int total);
// False once the user has cancelled (or the window has ended): the batch ends after this page.
bool ProgressContinues();
// Ends the window and waits until its thread has ended; returns at once when there is none.
void StopProgress();

INT_PTR CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
