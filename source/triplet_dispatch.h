// DS_Entry's work: screening every call and routing it to its handler.
#pragma once

#include "source/twain.h"

// Every handler receives the whole triplet and answers a TWRC_* code.
using TripletHandler = TW_UINT16 (*)(pTW_IDENTITY origin, TW_UINT32 group, TW_UINT16 argumentType,
                                     TW_UINT16 message, TW_MEMREF data);

TW_UINT16 DispatchTriplet(pTW_IDENTITY origin, TW_UINT32 group, TW_UINT16 argumentType,
                          TW_UINT16 message, TW_MEMREF data);
