// Module-wide state of the test source and the notifications it sends the manager.
#pragma once

#include <windows.h>

#include <cstdint>

#include "source/twain.h"

struct TestSourceState {
    HMODULE module;
    TW_IDENTITY identity;
    TW_IDENTITY app;  // Id 0 while not open
    int state;        // TWAIN state, 3 to 7
    TW_UINT16 condition;
    TW_UINT16 mechanism;  // ICAP_XFERMECH
    int page;             // the page a transfer hands over
    uint32_t rowsSent;    // of the current page, by memory transfer
    char fileName[256];
    TW_UINT16 fileFormat;
    HWND window;
};

extern TestSourceState Source;

// Page firstPage is ready (state 6): MSG_XFERREADY to the manager.
void SendXferReady(int firstPage);
void SendCloseRequest();
