// The DG_CONTROL handlers (but capabilities) and the notifications to the manager.
#pragma once

#include "source/twain.h"

TW_UINT16 IdentityHandler(pTW_IDENTITY origin, TW_UINT32 group, TW_UINT16 argumentType,
                          TW_UINT16 message, TW_MEMREF data);
TW_UINT16 UserInterfaceHandler(pTW_IDENTITY origin, TW_UINT32 group, TW_UINT16 argumentType,
                               TW_UINT16 message, TW_MEMREF data);
TW_UINT16 StatusHandler(pTW_IDENTITY origin, TW_UINT32 group, TW_UINT16 argumentType,
                        TW_UINT16 message, TW_MEMREF data);
TW_UINT16 PendingXfersHandler(pTW_IDENTITY origin, TW_UINT32 group, TW_UINT16 argumentType,
                              TW_UINT16 message, TW_MEMREF data);
TW_UINT16 SetupMemXferHandler(pTW_IDENTITY origin, TW_UINT32 group, TW_UINT16 argumentType,
                              TW_UINT16 message, TW_MEMREF data);
TW_UINT16 SetupFileXferHandler(pTW_IDENTITY origin, TW_UINT32 group, TW_UINT16 argumentType,
                               TW_UINT16 message, TW_MEMREF data);
TW_UINT16 XferGroupHandler(pTW_IDENTITY origin, TW_UINT32 group, TW_UINT16 argumentType,
                           TW_UINT16 message, TW_MEMREF data);

// The file name the application most recently presented in DAT_SETUPFILEXFER: where a file
// transfer writes.
extern char TransferFileName[256];

// Clears this file's module-wide state at load.
void ResetControlOperations();
