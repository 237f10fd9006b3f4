// What the test source does, read from test_source.txt beside the module when it is loaded.
// One command a line, '#' starts a comment:
//   name <product name>            the identity's ProductName (the rest of the line)
//   page <width> <height> <bits>   a page of 1, 8 or 24 bits per pixel, in order
//   resolution <dpi>               of every page (default 200)
//   atenable none|xferready|closereq|both   notifications sent at MSG_ENABLEDS
//   closeafter yes|no              MSG_CLOSEDSREQ once no page is left (default yes)
//   window                         show a window at MSG_ENABLEDS: page list (101), Transfer
//                                  (IDOK: pages from the selected one), Cancel (IDCANCEL)
//   consume <message number>       MSG_PROCESSEVENT takes window messages of that number
//   refuse <dat> <msg> <code>      refuse that triplet (hex numbers) with that condition code
//   preferred <bytes>              DAT_SETUPMEMXFER's preferred buffer size (default 8192)
//   box <text>                     show a message box with that text during MSG_ENABLEDS
//   corrupt                        hand over broken pages: a DIB block cut short after its
//                                  palette, memory strips claiming more rows than they hold
#pragma once

#include <windows.h>

#include "source/twain.h"

constexpr int MaxScriptPages = 32;
constexpr int MaxRefusals = 16;

struct PageSpec {
    int width;
    int height;
    int bits;
};

struct Refusal {
    TW_UINT16 argumentType;
    TW_UINT16 message;
    TW_UINT16 code;
};

enum class EnableAction { None, XferReady, CloseReq, Both };

struct SourceScript {
    char productName[34];
    PageSpec pages[MaxScriptPages];
    int pageCount;
    int resolution;
    EnableAction atEnable;
    bool closeAfterLastPage;
    bool window;
    UINT consumedMessage;  // 0: none
    Refusal refusals[MaxRefusals];
    int refusalCount;
    TW_UINT32 preferredBuffer;
    char boxText[128];  // empty: no box
    bool corrupt;
};

extern SourceScript Script;

// Reads the script; missing file or lines keep the defaults (one 16 x 8 grey page).
void ReadSourceScript(const char* path);
