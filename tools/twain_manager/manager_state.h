// Module-wide state of the data source manager: the application's session, the sources found on
// disk, the sources open, and the manager's own condition code.
#pragma once

#include <windows.h>

#include "source/twain.h"

constexpr int MaxKnownSources = 64;
constexpr int MaxOpenSources = 8;

// A source file found while enumerating, with the identity it reported (Id 0).
struct KnownSource {
    char path[MAX_PATH];
    TW_IDENTITY identity;
};

// A source loaded by MSG_OPENDS; a slot is free while identity.Id is 0.
struct OpenSource {
    TW_IDENTITY identity;
    char path[MAX_PATH];
    HMODULE module;
    DSENTRYPROC entry;
};

// The application that opened the manager. TWAIN 1.x: one application per loaded manager.
struct ManagerSession {
    bool open;
    TW_IDENTITY app;
    HWND window;   // the window given at MSG_OPENDSM; none: notifications go to the thread
    DWORD thread;  // the thread that opened the manager
};

extern HMODULE ManagerModule;
extern ManagerSession Session;
extern TW_UINT16 ManagerCondition;
extern KnownSource KnownSources[MaxKnownSources];
extern int KnownSourceCount;
extern bool SourcesScanned;
extern int NextKnownSource;                // MSG_GETNEXT cursor
extern char DefaultSourcePath[MAX_PATH];  // chosen in the selection dialog; empty: the first
extern OpenSource OpenSources[MaxOpenSources];
extern TW_UINT32 NextId;  // Ids are never reused while the manager is loaded

// Sets the condition code DAT_STATUS reports and answers TWRC_FAILURE.
TW_UINT16 RefuseFromManager(TW_UINT16 code);
OpenSource* FindOpenSource(TW_UINT32 id);
bool IsOpenSourceId(TW_UINT32 id);
