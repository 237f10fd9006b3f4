// What the source does when the loader attaches it to a process and detaches it again.
#pragma once

#include <windows.h>

// Returns FALSE to make the load fail (no module handle, no INI file or no "DriverName").
BOOL ModuleAttach(HMODULE module);
// unloading: the module is freed while the process goes on, so its window must go too.
void ModuleDetach(bool unloading = true);
