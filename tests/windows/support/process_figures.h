// What a process holds, measured as Wine lets it be measured (it keeps no private-bytes or
// handle counters of its own): for tests that load and free a library again and again and must
// find nothing left behind.
#pragma once

#include <windows.h>

struct ProcessFigures {
    double workingSetKb = 0;
    double committedKb = 0;  // private memory committed: heaps, stacks, allocations
    DWORD handles = 0;
    DWORD threads = 0;
    DWORD tlsSlots = 0;  // thread-local storage slots in use (a process has 1088 at most)
};

ProcessFigures Figures();
// One line of the figures before and after some cycles, with the growth a cycle.
void PrintFigures(const char* what, int cycles, const ProcessFigures& before, const ProcessFigures& after);
