// The calling thread's wait for a request: a message loop that keeps the thread's windows
// painted, the wait window with its cancel button, and the time-outs of the connection.
#pragma once

#include "device/protocol_library/http_job.h"

enum class WaitOutcome { Finished, Cancelled, TimedOut };

WaitOutcome WaitForJob(HttpJob& job, const WaitWindowSettings& settings);
