#include "device/protocol_library/library_state.h"

HMODULE LibraryModule = nullptr;
