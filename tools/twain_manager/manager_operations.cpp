#include "tools/twain_manager/manager_operations.h"

#include <cstring>

#include "tools/twain_manager/manager_state.h"
#include "tools/twain_manager/notification_queue.h"
#include "tools/twain_manager/source_discovery.h"
#include "tools/twain_manager/source_selection.h"

namespace {

TW_UINT16 OpenManager(pTW_IDENTITY origin, TW_MEMREF data)
{
    if (Session.open)
        return RefuseFromManager(TWCC_SEQERROR);
    // The data is a pointer to the application's window; without one, notifications are
    // posted to the calling thread.
    HWND window = data ? *static_cast<HWND*>(data) : nullptr;
    if (window && !IsWindow(window))
        return RefuseFromManager(TWCC_BADVALUE);
    origin->Id = NextId++;
    Session.app = *origin;
    Session.window = window;
    Session.thread = GetCurrentThreadId();
    Session.open = true;
    SourcesScanned = false;
    NextKnownSource = KnownSourceCount;
    return TWRC_SUCCESS;
}

TW_UINT16 CloseManager()
{
    for (const OpenSource& source : OpenSources)
        if (source.identity.Id != 0)
            return RefuseFromManager(TWCC_SEQERROR);
    DropNotifications(0);
    Session = ManagerSession{};
    SourcesScanned = false;
    KnownSourceCount = 0;
    NextKnownSource = 0;
    return TWRC_SUCCESS;
}

TW_UINT16 NextIdentity(TW_IDENTITY& identity)
{
    if (NextKnownSource >= KnownSourceCount)
        return TWRC_ENDOFLIST;
    identity = KnownSources[NextKnownSource++].identity;
    return TWRC_SUCCESS;
}

TW_UINT16 GetDefault(TW_IDENTITY& identity)
{
    EnsureSourcesScanned();
    const KnownSource* known = DefaultKnownSource();
    if (!known)
        return RefuseFromManager(TWCC_NODS);
    identity = known->identity;
    return TWRC_SUCCESS;
}

TW_UINT16 UserSelect(TW_IDENTITY& identity)
{
    EnsureSourcesScanned();
    if (KnownSourceCount == 0)
        return RefuseFromManager(TWCC_NODS);
    return SelectSource(identity);
}

OpenSource* FreeSlot()
{
    for (OpenSource& source : OpenSources)
        if (source.identity.Id == 0)
            return &source;
    return nullptr;
}

bool AlreadyOpen(const char* path)
{
    for (const OpenSource& source : OpenSources)
        if (source.identity.Id != 0 && _stricmp(source.path, path) == 0)
            return true;
    return false;
}

// The source refused MSG_OPENDS: its condition code becomes the manager's, since the
// application can no longer ask a source that is not open.
TW_UINT16 RefusedBySource(TW_UINT16 result, DSENTRYPROC entry, TW_IDENTITY& origin)
{
    TW_STATUS status{TWCC_OPERATIONERROR, 0};
    if (entry(&origin, DG_CONTROL, DAT_STATUS, MSG_GET, &status) != TWRC_SUCCESS ||
        status.ConditionCode == TWCC_SUCCESS)
        status.ConditionCode = TWCC_OPERATIONERROR;
    ManagerCondition = status.ConditionCode;
    return result == TWRC_SUCCESS ? TWRC_FAILURE : result;
}

// Loads the source named in identity (the default when no name is given), assigns its Id and
// passes MSG_OPENDS to it with the application's identity as origin.
TW_UINT16 OpenDataSource(TW_IDENTITY& identity)
{
    EnsureSourcesScanned();
    const KnownSource* known =
        identity.ProductName[0] ? FindKnownSource(identity) : DefaultKnownSource();
    if (!known)
        return RefuseFromManager(TWCC_NODS);
    if (AlreadyOpen(known->path))
        return RefuseFromManager(TWCC_SEQERROR);
    OpenSource* slot = FreeSlot();
    if (!slot)
        return RefuseFromManager(TWCC_MAXCONNECTIONS);

    HMODULE module;
    DSENTRYPROC entry;
    if (!LoadSourceModule(known->path, module, entry))
        return RefuseFromManager(TWCC_NODS);
    TW_IDENTITY origin = Session.app;
    TW_IDENTITY opened{};
    if (entry(&origin, DG_CONTROL, DAT_IDENTITY, MSG_GET, &opened) != TWRC_SUCCESS)
        opened = known->identity;
    opened.Id = NextId++;
    // The slot is taken before the source hears MSG_OPENDS: a source may notify at once.
    slot->identity = opened;
    strcpy(slot->path, known->path);
    slot->module = module;
    slot->entry = entry;
    TW_UINT16 result = entry(&origin, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &slot->identity);
    if (result != TWRC_SUCCESS) {
        result = RefusedBySource(result, entry, origin);
        DropNotifications(opened.Id);
        *slot = OpenSource{};
        FreeLibrary(module);
        return result;
    }
    slot->identity.Id = opened.Id;
    identity = slot->identity;
    return TWRC_SUCCESS;
}

TW_UINT16 CloseDataSource(pTW_IDENTITY origin, TW_IDENTITY& identity)
{
    OpenSource* source = FindOpenSource(identity.Id);
    if (!source)
        return RefuseFromManager(TWCC_BADDEST);
    TW_UINT16 result = source->entry(origin, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &identity);
    if (result != TWRC_SUCCESS)
        return result;  // still open: the application asks the source why
    DropNotifications(source->identity.Id);
    HMODULE module = source->module;
    *source = OpenSource{};
    FreeLibrary(module);
    return TWRC_SUCCESS;
}

}  // namespace

TW_UINT16 ParentOperation(pTW_IDENTITY origin, TW_UINT16 message, TW_MEMREF data)
{
    switch (message) {
    case MSG_OPENDSM:
        return OpenManager(origin, data);
    case MSG_CLOSEDSM:
        if (!Session.open)
            return RefuseFromManager(TWCC_SEQERROR);
        return CloseManager();
    default:
        return RefuseFromManager(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 IdentityOperation(pTW_IDENTITY origin, TW_UINT16 message, TW_MEMREF data)
{
    TW_IDENTITY* identity = static_cast<TW_IDENTITY*>(data);
    if (!identity)
        return RefuseFromManager(TWCC_BADVALUE);
    switch (message) {
    case MSG_GETFIRST:
        ScanSources();
        NextKnownSource = 0;
        return NextIdentity(*identity);
    case MSG_GETNEXT:
        return NextIdentity(*identity);
    case MSG_GETDEFAULT:
        return GetDefault(*identity);
    case MSG_USERSELECT:
        return UserSelect(*identity);
    case MSG_OPENDS:
        return OpenDataSource(*identity);
    case MSG_CLOSEDS:
        return CloseDataSource(origin, *identity);
    default:
        return RefuseFromManager(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 StatusOperation(TW_UINT16 message, TW_MEMREF data)
{
    if (message != MSG_GET)
        return RefuseFromManager(TWCC_BADPROTOCOL);
    TW_STATUS* status = static_cast<TW_STATUS*>(data);
    if (!status)
        return RefuseFromManager(TWCC_BADVALUE);
    status->ConditionCode = ManagerCondition;
    status->Reserved = 0;
    ManagerCondition = TWCC_SUCCESS;
    return TWRC_SUCCESS;
}
