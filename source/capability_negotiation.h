// DG_CONTROL/DAT_CAPABILITY.
#pragma once

#include "source/twain.h"

TW_UINT16 CapabilityHandler(pTW_IDENTITY origin, TW_UINT32 group, TW_UINT16 argumentType,
                            TW_UINT16 message, TW_MEMREF data);
