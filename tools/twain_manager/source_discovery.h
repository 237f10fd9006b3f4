// Finding the installed sources: every *.ds below the Windows folder's twain_32 (x86) or
// twain_64 (x64) folder, and first below the folders named by QRV_TWAIN_SOURCES (for tests;
// separated by ';'). QRV_TWAIN_SYSTEM_SOURCES=0 leaves the Windows folder out.
#pragma once

#include "tools/twain_manager/manager_state.h"

// Loads every source found, asks its identity and unloads it again; fills KnownSources.
void ScanSources();
void EnsureSourcesScanned();

// Loads a source with its own folder on the DLL search path, so that it finds the DLLs beside it.
bool LoadSourceModule(const char* path, HMODULE& module, DSENTRYPROC& entry);

// The known source whose ProductName equals wanted's; null when there is none.
const KnownSource* FindKnownSource(const TW_IDENTITY& wanted);
// The source chosen last in the selection dialog when it is still there, else the first found.
const KnownSource* DefaultKnownSource();
