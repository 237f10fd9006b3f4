// The source window: a top-level dialog from template 10015 with one tab control.
#pragma once

#include <windows.h>

constexpr int SourceWindowTemplate = 10015;
constexpr int TabControlId = 1071;

INT_PTR CALLBACK SourceWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Creates the modeless window with no owner; its set-up runs inside. None when creation failed.
HWND CreateSourceWindow();
