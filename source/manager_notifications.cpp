#include "source/manager_notifications.h"

#include <windows.h>

#include "source/source_state.h"
#include "window/progress_window.h"

namespace {

// The manager that opened us: the TWAIN 2 manager when it is loaded in this process (32-bit
// applications use it too, and it cannot see calls that go to TWAIN_32.DLL under every loader),
// else the architecture's manager loaded by name. Either way the library is referenced for this
// notification and released again: nothing is cached, so a manager that was unloaded and loaded
// again is always the one reached. A missing library or entry is silent.
HMODULE ReferenceManager()
{
    HMODULE manager = nullptr;
    if (GetModuleHandleExA(0, Twain2ManagerLibraryName, &manager))
        return manager;
    return LoadLibraryA(ManagerLibraryName);
}

void SendToManager(TW_UINT16 message)
{
    HMODULE manager = ReferenceManager();
    if (!manager)
        return;
    auto entry = reinterpret_cast<DSMENTRYPROC>(GetProcAddress(manager, "DSM_Entry"));
    if (entry)
        entry(&SourceIdentity, &AppIdentity, DG_CONTROL, DAT_NULL, message, nullptr);
    FreeLibrary(manager);
}

}  // namespace

void NotifyXferReady()
{
    SourceState = StateXferReady;
    SendToManager(MSG_XFERREADY);
}

void NotifyCloseDsReq()
{
    CloseRequested = true;
    StopProgress();
    SendToManager(MSG_CLOSEDSREQ);
}
