// The name under which applications and sources load the manager: 64-bit applications use the
// TWAIN 2 manager's name, 32-bit ones the TWAIN 1.x manager's.
#pragma once

#ifdef _WIN64
constexpr const char* ManagerLibraryName = "TWAINDSM.DLL";
#else
constexpr const char* ManagerLibraryName = "TWAIN_32.DLL";
#endif
