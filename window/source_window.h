// The source window: a top-level dialog from template 10015 with one tab control; each tab
// shows a page, itself a child dialog.
#pragma once

#include <windows.h>

constexpr int SourceWindowTemplate = 10015;
constexpr int TabControlId = 1071;

struct PageDescriptor {
    UINT captionString;
    int templateId;
    DLGPROC procedure;
    HWND window;           // none until created, cleared when destroyed
    int defaultButton;     // the page's control that becomes the window's default button; 0: none
    const char* hidingKey;  // in section "TWAIN" of the INI file: non-zero suppresses the page
    int tabIndex;          // -1 while the page has no tab
};

constexpr int PageCount = 2;
extern PageDescriptor PageTable[PageCount];

INT_PTR CALLBACK SourceWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Creates the modeless window with no owner; its set-up runs inside. None when creation failed.
HWND CreateSourceWindow();
// Makes the page of that tab the visible one; a negative index does nothing.
void ShowPage(int tabIndex);
// Sizes the tab control and the window around the page of that tab, keeping the window's
// top-left corner.
void LayoutPage(int tabIndex);
