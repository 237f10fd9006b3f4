#include "tools/acquire/console_output.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

namespace {

// Serialises whole lines between the main, box and script threads.
struct OutputLock {
    CRITICAL_SECTION section;
    OutputLock() { InitializeCriticalSection(&section); }
};
OutputLock Output;

}  // namespace

void Say(const char* format, ...)
{
    EnterCriticalSection(&Output.section);
    va_list arguments;
    va_start(arguments, format);
    vfprintf(stdout, format, arguments);
    va_end(arguments);
    fputc('\n', stdout);
    fflush(stdout);
    LeaveCriticalSection(&Output.section);
}
