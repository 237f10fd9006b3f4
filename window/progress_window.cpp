#include "window/progress_window.h"

ProgressStateRecord ProgressState;

bool ProgressContinues() { return ProgressState.Running; }

void StopProgress()
{
    HANDLE thread = ProgressState.Thread;
    if (!thread)
        return;
    ProgressState.Running = false;
    PostMessageA(ProgressState.Window, ProgressWakeMessage, 0, 0);
    WaitForSingleObject(thread, INFINITE);
}
