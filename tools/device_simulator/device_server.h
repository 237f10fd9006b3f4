// The simulator's HTTP side on a loopback address (127.0.0.1 unless told): commands posted to /upcmd.cgi, file fetches by device
// path, the search probe, and the switches that make it misbehave.
#pragma once

#include <string>

#include "tools/device_simulator/storage.h"

struct Faults {
    int delayMs = 0;          // before every command answer
    int fileDelayMs = 0;      // before every file answer
    bool dropCommands = false;
    bool dropDeletes = false;  // a DELETE command is neither carried out nor answered
    bool dropFiles = false;
    bool cutFiles = false;    // announce the whole file, send half of it, close
    int refuseAfter = -1;     // stop listening after this many requests
    bool malformed = false;   // command answers cut off in the middle
    long oversized = 0;       // pad command answers to at least this many bytes
    int deep = 0;             // nest the records this many elements deep
    bool forceCode = false;   // answer every command with code
    int code = 600;
    int codeAfter = 0;        // with forceCode: this many records come before the code
    bool noCode = false;      // answers carry no CODE element
    int notFoundStatus = 404; // HTTP status of a file the device does not have
    bool noAccept = false;    // accept no connection: connecting hangs as with a dead host
    bool chunkedFiles = false;  // files in chunked coding without a length, whatever was asked
    int filePaceMs = 0;       // files go out filePiece bytes at a time, this many ms apart
    int filePiece = 1024;
    std::string fileEncoding; // "gzip": files compressed and labelled so, whatever was asked
    std::string probeFault;   // "silent": the probe gets no answer; "garbage": it gets noise
};

struct ServerSettings {
    std::string host = "127.0.0.1";  // always an address in 127.0.0.0/8
    int port = 0;
    std::string portFile;   // the port is written here; the simulator ends when it is deleted
    int lifetimeSeconds = 0;
    std::string recordFile; // every request received is appended here
    Faults faults;
};

// True for a dotted IPv4 address inside 127.0.0.0/8: the only addresses the simulator takes.
bool IsLoopbackAddress(const std::string& text);

// Listens and serves until the port file disappears or the lifetime ends; returns the exit code.
int RunServer(Storage& storage, const ServerSettings& settings);
