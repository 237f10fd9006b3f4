#include "device/logon_dialog.h"

#include <cstdio>

#include "device/storage_commands.h"
#include "device/storage_tables.h"
#include "device/window_routines.h"
#include "source/source_state.h"

namespace {

const ControlText LogonDialogTexts[] = {{0, 20100}, {1056, 20101}, {1057, 20102}, {1, 20103}, {2, 20104}, {-1, 0}};

BOOL OnInit(HWND dialog)
{
    ApplyControlTexts(dialog, LogonDialogTexts);
    HWND users = GetDlgItem(dialog, UserComboId);
    for (int i = 0; i < UserCount && i < UserTableSize; ++i) {
        char entry[sizeof SelectedUser];
        snprintf(entry, sizeof entry, "%s:%s", UserTable[i].userId, UserTable[i].userName);
        SendMessageA(users, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry));
    }
    LRESULT found = SendMessageA(users, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                 reinterpret_cast<LPARAM>(SelectedUser));
    SendMessageA(users, CB_SETCURSEL, found == CB_ERR ? 0 : found, 0);
    SendDlgItemMessageA(dialog, PasswordEditId, EM_LIMITTEXT, sizeof LogonPassword - 1, 0);
    return TRUE;
}

void OnOk(HWND dialog)
{
    GetDlgItemTextA(dialog, UserComboId, SelectedUser, sizeof SelectedUser);
    GetDlgItemTextA(dialog, PasswordEditId, LogonPassword, sizeof LogonPassword);
    UserHandle = FindUserHandle(SelectedUser);
    EndDialog(dialog, IDOK);
}

void OnCommand(HWND dialog, WPARAM wParam)
{
    switch (LOWORD(wParam)) {
    case IDOK:
        OnOk(dialog);
        break;
    case IDCANCEL:
        EndDialog(dialog, IDCANCEL);
        break;
    }
}

}  // namespace

INT_PTR CALLBACK LogonDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInit(dialog);
    case WM_COMMAND:
        OnCommand(dialog, wParam);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR RunLogonDialog(HWND owner)
{
    return DialogBoxParamA(OwnModule, MAKEINTRESOURCEA(LogonDialogTemplate), owner, LogonDialogProc, 0);
}
