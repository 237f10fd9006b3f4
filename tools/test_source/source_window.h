// The test source's window, shown at MSG_ENABLEDS when the script asks for it, so that the
// acquisition application's window scripts have something to drive: a list of the pages (101),
// Transfer (IDOK, from the selected page) and Cancel (IDCANCEL).
#pragma once

#include <windows.h>

constexpr int PageListId = 101;

bool RegisterTestWindowClass(HINSTANCE instance);
void UnregisterTestWindowClass(HINSTANCE instance);
HWND CreateTestWindow(HINSTANCE instance);
