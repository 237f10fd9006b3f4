#include "tools/twain_manager/source_selection.h"

#include <cstring>

#include "tools/twain_manager/manager_resource_ids.h"
#include "tools/twain_manager/manager_state.h"
#include "tools/twain_manager/source_discovery.h"

namespace {

struct Selection {
    const TW_IDENTITY* wanted;
    int chosen;  // index into KnownSources
};

BOOL OnInitDialog(HWND dialog, Selection* selection)
{
    SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(selection));
    HWND list = GetDlgItem(dialog, IDC_SOURCE_LIST);
    for (int i = 0; i < KnownSourceCount; ++i)
        SendMessageA(list, LB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(KnownSources[i].identity.ProductName));
    const KnownSource* preselected = nullptr;
    if (selection->wanted->ProductName[0])
        preselected = FindKnownSource(*selection->wanted);
    if (!preselected)
        preselected = DefaultKnownSource();
    SendMessageA(list, LB_SETCURSEL, preselected ? preselected - KnownSources : 0, 0);
    return TRUE;
}

void Choose(HWND dialog)
{
    Selection* selection = reinterpret_cast<Selection*>(GetWindowLongPtrA(dialog, DWLP_USER));
    LRESULT index = SendDlgItemMessageA(dialog, IDC_SOURCE_LIST, LB_GETCURSEL, 0, 0);
    if (index < 0 || index >= KnownSourceCount)
        return;  // nothing chosen yet: the dialog stays
    selection->chosen = static_cast<int>(index);
    EndDialog(dialog, IDOK);
}

void OnCommand(HWND dialog, WPARAM wParam)
{
    switch (LOWORD(wParam)) {
    case IDOK:
        Choose(dialog);
        break;
    case IDCANCEL:
        EndDialog(dialog, IDCANCEL);
        break;
    case IDC_SOURCE_LIST:
        if (HIWORD(wParam) == LBN_DBLCLK)
            Choose(dialog);
        break;
    }
}

INT_PTR CALLBACK SelectionProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(dialog, reinterpret_cast<Selection*>(lParam));
    case WM_COMMAND:
        OnCommand(dialog, wParam);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

TW_UINT16 SelectSource(TW_IDENTITY& identity)
{
    Selection selection{&identity, -1};
    INT_PTR answer = DialogBoxParamA(ManagerModule, MAKEINTRESOURCEA(IDD_SELECT_SOURCE),
                                     Session.window, SelectionProc,
                                     reinterpret_cast<LPARAM>(&selection));
    if (answer == -1)
        return RefuseFromManager(TWCC_LOWMEMORY);
    if (answer != IDOK || selection.chosen < 0)
        return TWRC_CANCEL;
    const KnownSource& known = KnownSources[selection.chosen];
    strcpy(DefaultSourcePath, known.path);
    identity = known.identity;
    return TWRC_SUCCESS;
}
