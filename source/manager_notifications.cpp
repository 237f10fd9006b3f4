#include "source/manager_notifications.h"

#include <windows.h>

#include "source/source_state.h"
#include "window/progress_window.h"

namespace {

// The library is loaded for each notification and released again: nothing is cached, so a
// manager that was unloaded and loaded again is always the one reached. A missing library or
// entry is silent.
void SendToManager(TW_UINT16 message)
{
    HMODULE manager = LoadLibraryA(ManagerLibraryName);
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
