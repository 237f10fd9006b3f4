// The thin shell of qrvkbx.ds: the loader's entry and the exported TWAIN entry point.
#include <windows.h>

#include "runtime/static_runtime.h"
#include "source/module_load.h"
#include "source/triplet_dispatch.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        return ModuleAttach(instance);
    case DLL_PROCESS_DETACH:
        // At process exit (reserved set) other threads are gone: no window is touched then, and
        // nothing needs giving back. Freed while the process goes on, the runtime's own
        // allocations go too: an application loads and frees the source all day.
        ModuleDetach(reserved == nullptr);
        if (!reserved)
            ReleaseStaticRuntime();
        return TRUE;
    default:
        return TRUE;
    }
}

extern "C" __declspec(dllexport) TW_UINT16 TW_CALLINGSTYLE DS_Entry(pTW_IDENTITY origin,
                                                                    TW_UINT32 group,
                                                                    TW_UINT16 argumentType,
                                                                    TW_UINT16 message,
                                                                    TW_MEMREF data)
{
    return DispatchTriplet(origin, group, argumentType, message, data);
}
