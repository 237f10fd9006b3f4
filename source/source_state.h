// Module-wide state of the loaded source, shared by the TWAIN side, and the two routines every
// part of it uses: loading a text by the resource rule and refusing an application's request.
#pragma once

#include <windows.h>

#include "source/twain.h"

// TWAIN states as this source tracks them.
constexpr int StateLoaded = 3;
constexpr int StateOpen = 4;
constexpr int StateEnabled = 5;
constexpr int StateXferReady = 6;
constexpr int StateTransferring = 7;

extern TW_IDENTITY SourceIdentity;
extern TW_IDENTITY AppIdentity;
extern int SourceState;
extern TW_UINT16 ConditionCode;
extern HWND SourceWindow;
extern HWND ParentWindow;
extern bool CloseRequested;
extern HMODULE ResourceModule;
extern HMODULE OwnModule;

// Loads string id from the resource module when it is loaded, else from the source module;
// returns the length (0 and an empty buffer when the string is missing).
int LoadResourceString(UINT id, char* buffer, int size);

// The one box every refused application request shows. The arguments are not shown: the
// diagnostic is for readers of the code, the code is already in ConditionCode.
void ShowApplicationError(const char* diagnostic, TW_UINT16 code);

// A refusal: sets ConditionCode, shows the box, answers TWRC_FAILURE.
TW_UINT16 RefuseRequest(TW_UINT16 code, const char* diagnostic);
