#include "window/source_window.h"

#include "source/manager_notifications.h"
#include "source/source_state.h"

namespace {

BOOL OnInitDialog(HWND window)
{
    SourceWindow = window;
    return TRUE;
}

void OnCommand(HWND, WPARAM wParam)
{
    // The window never closes itself: every way out asks the application to close the source.
    if (LOWORD(wParam) == IDCANCEL)
        NotifyCloseDsReq();
}

}  // namespace

INT_PTR CALLBACK SourceWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(window);
    case WM_COMMAND:
        OnCommand(window, wParam);
        return TRUE;
    default:
        return FALSE;
    }
}

HWND CreateSourceWindow()
{
    return CreateDialogParamA(OwnModule, MAKEINTRESOURCEA(SourceWindowTemplate), nullptr,
                              SourceWindowProc, 0);
}
