// The manager's module: the loader's entry and DSM_Entry, which serves the manager's own
// triplets, routes every other one to its destination source and takes the sources'
// notifications.
#include <windows.h>

#include "tools/twain_manager/manager_operations.h"
#include "tools/twain_manager/manager_state.h"
#include "tools/twain_manager/notification_queue.h"

namespace {

bool FromApplication(const TW_IDENTITY& origin)
{
    return Session.open && origin.Id == Session.app.Id;
}

// Triplets without a destination are the manager's own.
TW_UINT16 ManagerTriplet(pTW_IDENTITY origin, TW_UINT32 group, TW_UINT16 argumentType,
                         TW_UINT16 message, TW_MEMREF data)
{
    if (group == DG_CONTROL && argumentType == DAT_STATUS)
        return StatusOperation(message, data);
    if (group == DG_CONTROL && argumentType == DAT_PARENT && message == MSG_OPENDSM)
        return ParentOperation(origin, message, data);
    if (!FromApplication(*origin))
        return RefuseFromManager(TWCC_SEQERROR);
    if (group == DG_CONTROL && argumentType == DAT_PARENT)
        return ParentOperation(origin, message, data);
    if (group == DG_CONTROL && argumentType == DAT_IDENTITY)
        return IdentityOperation(origin, message, data);
    return RefuseFromManager(TWCC_BADDEST);
}

bool IsManagerIdentityMessage(TW_UINT16 message)
{
    return message == MSG_GETFIRST || message == MSG_GETNEXT || message == MSG_GETDEFAULT ||
           message == MSG_USERSELECT || message == MSG_OPENDS || message == MSG_CLOSEDS;
}

// Triplets of the application for an open source.
TW_UINT16 SourceTriplet(pTW_IDENTITY origin, pTW_IDENTITY destination, TW_UINT32 group,
                        TW_UINT16 argumentType, TW_UINT16 message, TW_MEMREF data)
{
    if (!FromApplication(*origin))
        return RefuseFromManager(TWCC_SEQERROR);
    // Opening and closing stay with the manager even when the application names the source.
    if (group == DG_CONTROL && argumentType == DAT_IDENTITY && IsManagerIdentityMessage(message))
        return IdentityOperation(origin, message, data);
    OpenSource* source = FindOpenSource(destination->Id);
    if (!source)
        return RefuseFromManager(TWCC_BADDEST);
    if (message == MSG_PROCESSEVENT)
        return ProcessEvent(*source, origin, static_cast<TW_EVENT*>(data));
    return source->entry(origin, group, argumentType, message, data);
}

TW_UINT16 Dispatch(pTW_IDENTITY origin, pTW_IDENTITY destination, TW_UINT32 group,
                   TW_UINT16 argumentType, TW_UINT16 message, TW_MEMREF data)
{
    if (!origin)
        return RefuseFromManager(TWCC_BADVALUE);
    // A source speaking for itself: only its notifications are accepted.
    if (IsOpenSourceId(origin->Id)) {
        if (group != DG_CONTROL || argumentType != DAT_NULL)
            return TWRC_FAILURE;
        return QueueNotification(*origin, destination, message);
    }
    if (!destination)
        return ManagerTriplet(origin, group, argumentType, message, data);
    return SourceTriplet(origin, destination, group, argumentType, message, data);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        ManagerModule = instance;
        InitNotifications();
        return TRUE;
    case DLL_PROCESS_DETACH:
        // Sources still open stay loaded: freeing libraries under the loader lock is unsafe.
        EndNotifications();
        return TRUE;
    default:
        return TRUE;
    }
}

extern "C" __declspec(dllexport) TW_UINT16 TW_CALLINGSTYLE DSM_Entry(pTW_IDENTITY origin,
                                                                     pTW_IDENTITY destination,
                                                                     TW_UINT32 group,
                                                                     TW_UINT16 argumentType,
                                                                     TW_UINT16 message,
                                                                     TW_MEMREF data)
{
    try {
        return Dispatch(origin, destination, group, argumentType, message, data);
    } catch (...) {
        return RefuseFromManager(TWCC_LOWMEMORY);
    }
}
