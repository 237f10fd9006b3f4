// Names of TWAIN codes for the application's report.
#pragma once

#include "source/twain.h"

const char* ReturnCodeName(TW_UINT16 code);
const char* ConditionCodeName(TW_UINT16 code);
const char* NotificationName(TW_UINT16 message);
