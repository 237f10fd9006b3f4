// Small window routines the source's dialogs and pages share.
#pragma once

#include <windows.h>

// Centres the window over its parent when the result lies inside the work area.
void CenterOverParent(HWND window);
// A page-number field: at most 3 characters, no clipboard and no context menu, no input method.
void RestrictEdit(HWND edit, WNDPROC procedure);
LRESULT CALLBACK RestrictedEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam);
// Takes the default-button style from one button; when that button has the focus, the other
// becomes the default button and takes the focus.
void MoveDefaultButton(HWND from, HWND to);
// The window's text from a format, at most 260 characters.
void SetWindowTextFormat(HWND window, const char* format, ...);
