// The two notifications the source sends the manager on its own initiative.
#pragma once

// The manager library a source of this architecture reports to: 64-bit applications use the
// TWAIN 2 manager, which also serves 1.x sources.
#ifdef _WIN64
constexpr const char* ManagerLibraryName = "TWAINDSM.DLL";
#else
constexpr const char* ManagerLibraryName = "TWAIN_32.DLL";
#endif
// The TWAIN 2 manager's library. When an application uses it, it is already loaded in the
// process, and a notification sent anywhere else would reach a manager that never opened us.
constexpr const char* Twain2ManagerLibraryName = "TWAINDSM.DLL";

// A page is ready: the state becomes 6 and the manager hears MSG_XFERREADY.
void NotifyXferReady();
// Asks the manager to close the source (MSG_CLOSEDSREQ), after the progress window has ended.
void NotifyCloseDsReq();
