#include "source/capability_negotiation.h"

#include "source/source_state.h"

// No capability table exists yet: every capability is unsupported, without a box.
TW_UINT16 CapabilityHandler(pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF)
{
    ConditionCode = TWCC_CAPUNSUPPORTED;
    return TWRC_FAILURE;
}
