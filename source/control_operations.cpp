#include "source/control_operations.h"

#include <cstring>

#include "source/source_state.h"

namespace {

// Handlers that a later stage of the source builds answer like an unknown operation meanwhile.
TW_UINT16 RefuseNotBuilt()
{
    return RefuseRequest(TWCC_BADPROTOCOL, "operation not available");
}

}  // namespace

void ResetControlOperations()
{
}

TW_UINT16 IdentityHandler(pTW_IDENTITY origin, TW_UINT32, TW_UINT16, TW_UINT16 message,
                          TW_MEMREF data)
{
    TW_IDENTITY* identity = static_cast<TW_IDENTITY*>(data);
    switch (message) {
    case MSG_GET:
        if (!identity)
            return RefuseRequest(TWCC_BADVALUE, "no identity <<DAT_IDENTITY>>");
        memcpy(identity, &SourceIdentity, sizeof SourceIdentity);
        return TWRC_SUCCESS;
    case MSG_OPENDS:
        DeleteFileA("c:\\twsrc.log");
        if (SourceState != StateLoaded)
            return RefuseRequest(TWCC_SEQERROR, "source already open <<MSG_OPENDS>>");
        if (!identity)
            return RefuseRequest(TWCC_BADVALUE, "no identity <<MSG_OPENDS>>");
        memcpy(&AppIdentity, origin, sizeof AppIdentity);
        memcpy(&SourceIdentity, identity, sizeof SourceIdentity);
        SourceState = StateOpen;
        return TWRC_SUCCESS;
    case MSG_CLOSEDS:
        if (SourceState < StateOpen)
            return RefuseRequest(TWCC_SEQERROR, "source not open <<MSG_CLOSEDS>>");
        AppIdentity.Id = 0;
        SourceState = StateLoaded;
        return TWRC_SUCCESS;
    default:
        return RefuseRequest(TWCC_BADPROTOCOL, "unknown message <<DAT_IDENTITY>>");
    }
}

TW_UINT16 StatusHandler(pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16 message, TW_MEMREF data)
{
    if (message != MSG_GET)
        return RefuseRequest(TWCC_BADPROTOCOL, "unknown message <<DAT_STATUS>>");
    TW_STATUS* status = static_cast<TW_STATUS*>(data);
    if (!status)
        return RefuseRequest(TWCC_BADVALUE, "no status <<DAT_STATUS>>");
    status->ConditionCode = ConditionCode;
    status->Reserved = 0;
    ConditionCode = TWCC_SUCCESS;
    return TWRC_SUCCESS;
}

TW_UINT16 UserInterfaceHandler(pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF)
{
    return RefuseNotBuilt();
}

TW_UINT16 PendingXfersHandler(pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF)
{
    return RefuseNotBuilt();
}

TW_UINT16 SetupMemXferHandler(pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF)
{
    return RefuseNotBuilt();
}

TW_UINT16 SetupFileXferHandler(pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF)
{
    return RefuseNotBuilt();
}

TW_UINT16 XferGroupHandler(pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF)
{
    return RefuseNotBuilt();
}
