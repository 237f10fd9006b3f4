// Relabelling of the source's dialogs from the localised resource module: for each dialog a
// list of (control id, string id) pairs ended by a control id of -1; control 0 is the caption.
#pragma once

#include <windows.h>

struct ControlText {
    int control;
    UINT string;
};

extern const ControlText SourceWindowTexts[];
extern const ControlText BrowserPageTexts[];
extern const ControlText ProgressWindowTexts[];
extern const ControlText LogonDialogTexts[];
extern const ControlText SelectDialogTexts[];
extern const ControlText SettingsDialogTexts[];

// Sets each control's text from the resource module; does nothing without the module, and a
// string the module lacks (or holds empty) leaves the template's text.
void ApplyControlTexts(HWND dialog, const ControlText* table);
