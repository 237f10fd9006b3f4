// What the C++ runtime linked into each shipped library takes when the library loads, given back
// when it is freed, so that an application can load and free the library any number of times.
// A library that links qrv_static_runtime also has the runtime's one-time initialisation routed
// through a version that keeps nothing per load (static_runtime.cpp).
#pragma once

// At DLL_PROCESS_DETACH of a FreeLibrary (not at process exit).
void ReleaseStaticRuntime();
