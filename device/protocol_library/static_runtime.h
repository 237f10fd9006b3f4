// What the C++ runtime linked into this library takes when the library loads, given back when
// it is freed, so that an application can load and free it any number of times.
#pragma once

// At DLL_PROCESS_DETACH of a FreeLibrary (not at process exit).
void ReleaseStaticRuntime();
