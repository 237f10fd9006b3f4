// What the protocol message library keeps between calls: its module, and the messages and
// connections behind the handles it gave out. One caller thread at a time.
#pragma once

#include <windows.h>

#include <string>

#include "device/protocol_codec.h"
#include "device/protocol_library.h"

extern HMODULE LibraryModule;

// Milliseconds, 0 = no limit (docs/device_protocol.md).
struct Timeouts {
    DWORD connect = 10000;
    DWORD send = 0;
    DWORD receive = 60000;
    DWORD total = 0;
};

struct WaitWindowSettings {
    bool wanted = false;
    DWORD delay = 0;
    std::string caption;
    std::string text;
    std::string button;
};

struct Message {
    TagNames tags;
    int mode = 0;
    RequestTree request;
    Answer answer;
    size_t cursor = 0;  // index of the element last visited, or past the end
};

struct Connection {
    std::string address;
    WaitWindowSettings wait;
    Timeouts timeouts;
    DWORD lastError = 0;
};

// The record behind a handle, or null for a handle that is not (or no longer) valid.
Message* MessageOf(ProtocolHandle handle);
Connection* ConnectionOf(ProtocolHandle handle);
