// "Logon": the user entry and the password that every storage request carries.
#pragma once

#include <windows.h>

constexpr int LogonDialogTemplate = 10006;
constexpr int UserComboId = 1038;
constexpr int PasswordEditId = 1036;

// Ends with 1 after OK (SelectedUser, LogonPassword and UserHandle set) or 2 after Cancel
// (nothing changed). It sends no request.
INT_PTR CALLBACK LogonDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Runs the dialog modally; 1 after OK.
INT_PTR RunLogonDialog(HWND owner);
