// DG_CONTROL/DAT_CAPABILITY: capabilities answered in the application's containers, set and
// reset; and the conversions between stored values and TW_FIX32.
#pragma once

#include "source/capability_store.h"
#include "source/twain.h"

TW_UINT16 CapabilityHandler(pTW_IDENTITY origin, TW_UINT32 group, TW_UINT16 argumentType,
                            TW_UINT16 message, TW_MEMREF data);

TW_FIX32 ToFix32(float value);
float FromFix32(TW_FIX32 value);

// Each allocates a new container, stores its handle and type in the capability and answers
// TWCC_SUCCESS or TWCC_LOWMEMORY.
TW_UINT16 BuildOneValue(TW_CAPABILITY* capability, TW_UINT16 itemType, const void* value);
TW_UINT16 BuildEnumeration(TW_CAPABILITY* capability, TW_UINT16 itemType, TW_UINT32 numItems,
                           TW_UINT32 currentIndex, TW_UINT32 defaultIndex, const void* items);
TW_UINT16 BuildArray(TW_CAPABILITY* capability, TW_UINT16 itemType, TW_UINT32 numItems,
                     const void* items);
TW_UINT16 BuildRange(TW_CAPABILITY* capability, TW_UINT16 itemType, const void* items,
                     const void* defaultValue, const void* currentValue);
// Reads the item of a TW_ONEVALUE of container bytes into a value of the entry's item type.
void ReadOneValue(const TW_ONEVALUE* container, TW_UINT16 itemType, void* value);
