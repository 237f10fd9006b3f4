// The triplets the manager serves itself (no destination): DAT_PARENT, DAT_IDENTITY, DAT_STATUS.
#pragma once

#include "source/twain.h"

TW_UINT16 ParentOperation(pTW_IDENTITY origin, TW_UINT16 message, TW_MEMREF data);
TW_UINT16 IdentityOperation(pTW_IDENTITY origin, TW_UINT16 message, TW_MEMREF data);
TW_UINT16 StatusOperation(TW_UINT16 message, TW_MEMREF data);
