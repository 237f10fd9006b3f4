// The acquisition: the standard TWAIN sequence from opening the manager to closing it, with the
// event loop that receives the source's notifications.
#pragma once

#include "tools/acquire/acquire_options.h"

// Runs the whole sequence; returns the exit status: 0 only when nothing failed.
int RunAcquisition(const AcquireOptions& options);
