// The storage browser page: the device's folders as a tree, the chosen folder's documents as a
// list, the transfer options and the preview. Its state and what its rows stand for are in
// browser_state.h.
#pragma once

#include <windows.h>

constexpr int BrowserPageTemplate = 10023;

INT_PTR CALLBACK BrowserPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
