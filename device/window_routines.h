// Small window routines the source's dialogs and pages share.
#pragma once

#include <windows.h>

// Relabelling of a dialog from the localised resource module: (control id, string id) pairs
// ended by a control id of -1; control 0 is the caption.
struct ControlText {
    int control;
    UINT string;
};

// Sets each control's text from the resource module; does nothing without the module, and a
// string the module lacks (or holds empty) leaves the template's text.
void ApplyControlTexts(HWND dialog, const ControlText* table);
// Inserts a report column titled by a resource string (format LVCFMT_*).
void AddListColumn(HWND list, int index, UINT titleId, int width, int format);

// Centres the window over its parent when the result lies inside the work area.
void CenterOverParent(HWND window);
// A page-number field: at most 3 characters, no clipboard and no context menu, no input method.
void RestrictEdit(HWND edit, WNDPROC procedure);
LRESULT CALLBACK RestrictedEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam);
// Takes the default-button style from one button; when that button has the focus, the other
// becomes the default button and takes the focus.
void MoveDefaultButton(HWND from, HWND to);
