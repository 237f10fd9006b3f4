// One HTTP exchange run on a thread of its own. The calling thread waits for it (wait_window.h)
// and may give up early; the worker then finishes on its own, discards its result and drops
// the reference it holds on the library's module.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "device/protocol_library/library_state.h"

enum JobState : LONG { JobRunning, JobFinished, JobAbandoned };
enum JobPhase : LONG { PhaseConnecting, PhaseSending, PhaseReceiving };

struct HttpJob {
    // Set by the caller before the start.
    std::string host;
    int port = 80;
    std::string verb;
    std::string path;
    std::string body;          // request body (POST)
    std::string filePath;      // when not empty: the answer body goes to this file
    // Files: the most bytes accepted. Answers in memory: the most bytes kept; the rest is not read.
    uint64_t sizeLimit = 0;
    Timeouts timeouts;

    // Progress, written by the worker and read by the waiting thread.
    volatile LONG phase = PhaseConnecting;
    volatile LONG phaseTick = 0;
    volatile LONG activityTick = 0;
    DWORD startTick = 0;

    // Result, valid once the job has finished (done is set).
    DWORD error = 0;
    std::string answer;

    volatile LONG state = JobRunning;
    volatile LONG references = 2;  // the caller's and the worker's
    HANDLE done = nullptr;
    HMODULE module = nullptr;  // the worker's own reference on the module its code is in
};

// Starts the worker. On failure the job is released and the Windows error returned; 0 = running.
DWORD StartHttpJob(HttpJob* job);
// Drops the caller's reference.
void ReleaseHttpJob(HttpJob* job);
// The caller gives up: true when the worker was still running and will clean up after itself,
// false when it had already finished (the caller then owns the result).
bool AbandonHttpJob(HttpJob* job);
