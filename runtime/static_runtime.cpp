#include "runtime/static_runtime.h"

#include <windows.h>

namespace __gnu_cxx {
// Frees the runtime's emergency buffer for exceptions (64 kB and more on x64, 16 kB and more
// on x86), taken from the process heap at every load and never given back by the runtime.
void __freeres() noexcept;
}  // namespace __gnu_cxx

void ReleaseStaticRuntime() { __gnu_cxx::__freeres(); }

// One-time initialisation for the runtime's own code (the unwinder's frame registration at
// load, locale set-up). The POSIX threads layer's version records the calling thread as one of
// its threads: a thread-local storage slot, a duplicated thread handle and an event, all kept
// when the library is freed. On x86 that happened at every load (the unwind tables are
// registered on the loading thread), so each load cost a slot of the 1088 a process has, and
// after about a thousand loads the process had none left. The link redirects the runtime's
// calls here (-Wl,--wrap=pthread_once); this version keeps nothing but the flag itself.
// States of the flag: 0 not run (its static initial value), 1 running, 2 done.
extern "C" int __wrap_pthread_once(volatile long* once, void (*init)(void))
{
    if (InterlockedCompareExchange(once, 1, 0) == 0) {
        init();
        InterlockedExchange(once, 2);
        return 0;
    }
    while (InterlockedCompareExchange(once, 2, 2) != 2)
        SwitchToThread();
    return 0;
}
