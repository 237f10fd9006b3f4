// The library's module: the one thing DllMain keeps.
#include "device/protocol_library/library_state.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        LibraryModule = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
