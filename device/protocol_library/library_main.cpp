// The library's module: the one thing DllMain keeps, and what a load took given back.
#include "device/protocol_library/library_state.h"
#include "runtime/static_runtime.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        LibraryModule = instance;
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        // Freed while the process goes on: an application that loads and frees the source all
        // day must not grow with every load. (At process exit nothing needs giving back.)
        ReleaseStaticRuntime();
    }
    return TRUE;
}
