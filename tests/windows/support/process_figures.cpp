#include "tests/windows/support/process_figures.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

DWORD ThreadCount()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    DWORD count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ++count;
    CloseHandle(snapshot);
    return count;
}

double CommittedPrivateKb()
{
    double total = 0;
    MEMORY_BASIC_INFORMATION region{};
    for (const char* at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            total += static_cast<double>(region.RegionSize);
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= at)
            break;
        at = next;
    }
    return total / 1024;
}

// Handles open in this process: each handle value is tried (they are multiples of 4, handed out
// lowest first, so the open ones lie below a bound that grows only with their number).
DWORD HandleCount()
{
    DWORD count = 0, misses = 0;
    for (uintptr_t value = 4; misses < 4096; value += 4) {
        DWORD flags;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++count;
            misses = 0;
        } else {
            ++misses;
        }
    }
    return count;
}

DWORD TlsSlotsInUse()
{
    std::vector<DWORD> taken;
    for (DWORD slot; (slot = TlsAlloc()) != TLS_OUT_OF_INDEXES;)
        taken.push_back(slot);
    for (DWORD slot : taken)
        TlsFree(slot);
    return TLS_MINIMUM_AVAILABLE + 1024 - static_cast<DWORD>(taken.size());
}

}  // namespace

ProcessFigures Figures()
{
    ProcessFigures figures;
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    if (K32GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory))
        figures.workingSetKb = memory.WorkingSetSize / 1024.0;
    figures.committedKb = CommittedPrivateKb();
    figures.handles = HandleCount();
    figures.threads = ThreadCount();
    figures.tlsSlots = TlsSlotsInUse();
    return figures;
}

void PrintFigures(const char* what, int cycles, const ProcessFigures& before, const ProcessFigures& after)
{
    printf("%d %s: working set %.0f -> %.0f kB (%+.1f kB a cycle), committed %.0f -> %.0f kB "
           "(%+.1f kB a cycle), handles %lu -> %lu, threads %lu -> %lu, TLS slots %lu -> %lu\n",
           cycles, what, before.workingSetKb, after.workingSetKb, (after.workingSetKb - before.workingSetKb) / cycles,
           before.committedKb, after.committedKb, (after.committedKb - before.committedKb) / cycles,
           static_cast<unsigned long>(before.handles), static_cast<unsigned long>(after.handles),
           static_cast<unsigned long>(before.threads), static_cast<unsigned long>(after.threads),
           static_cast<unsigned long>(before.tlsSlots), static_cast<unsigned long>(after.tlsSlots));
}
