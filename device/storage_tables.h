// The records and fixed tables the storage commands fill, and the logon state they use.
#pragma once

#include <windows.h>

#include <cstdint>

// Full path of the document file most recently made available; emptied with every new work
// directory.
extern char CurrentDocumentPath[MAX_PATH];
