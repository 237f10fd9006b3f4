// The two notifications the source sends the manager on its own initiative.
#pragma once

// The manager library a source of this architecture reports to: 64-bit applications use the
// TWAIN 2 manager, which also serves 1.x sources.
#ifdef _WIN64
constexpr const char* ManagerLibraryName = "TWAINDSM.DLL";
#else
constexpr const char* ManagerLibraryName = "TWAIN_32.DLL";
#endif

// A page is ready: the state becomes 6 and the manager hears MSG_XFERREADY.
void NotifyXferReady();
// Asks the manager to close the source (MSG_CLOSEDSREQ), after the progress window has ended.
void NotifyCloseDsReq();
