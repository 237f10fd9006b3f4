// A DLL that the test source imports: it loads only when the manager puts the source's own
// folder on the DLL search path.
#include <windows.h>

extern "C" __declspec(dllexport) const char* TestSourceFamily()
{
    return "QRV Tests";
}
