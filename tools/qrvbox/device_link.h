// The requests to the device: a storage command posted to /upcmd.cgi and walked into an answer,
// or a document fetched by its device path into a local file. On Linux through an HTTP client
// library, on Windows through the source's own protocol library (qrvxpmns.dll beside the tool);
// both keep the same time-outs, size bounds and rules for hostile answers, and report outcomes
// with the protocol library's result codes.
#pragma once

#include <cstdint>
#include <string>

#include "device/storage_protocol.h"

struct DeviceAddress {
    std::string host;  // a host name, a dotted address or an IPv6 address (without brackets)
    int port = 80;
};

// In milliseconds; 0 = no limit. Connect: until the device accepts; send: until the request has
// gone out; receive: the longest silence while the answer is awaited or arrives; total: the whole
// request.
struct LinkTimeouts {
    uint32_t connect;
    uint32_t send;
    uint32_t receive;
    uint32_t total;
};
// The source's: every request, and the document list, which may be long in coming.
constexpr LinkTimeouts CommandTimeouts{10000, 0, 60000, 0};
constexpr LinkTimeouts DocumentListTimeouts{10000, 0, 300000, 6000000};

// Result codes, as the protocol library reports them.
constexpr uint32_t LinkOk = 0;
constexpr uint32_t LinkTimedOut = 12002;
constexpr uint32_t LinkRefusedAddress = 12005;     // an address or device path that is refused
constexpr uint32_t LinkNameNotResolved = 12007;
constexpr uint32_t LinkCancelled = 12017;          // interrupted
constexpr uint32_t LinkCannotConnect = 12029;
constexpr uint32_t LinkConnectionAborted = 12030;  // closed without an answer
constexpr uint32_t LinkConnectionReset = 12031;
constexpr uint32_t LinkBadAnswer = 12152;          // refused answer, or a file cut short, too large or coded
constexpr uint32_t LinkFileError = 29;             // the local file could not be written
constexpr uint32_t LinkBadFileName = 123;          // a local path the protocol library cannot spell
constexpr uint32_t LinkNoLibrary = 126;            // qrvxpmns.dll could not be loaded (Windows)

// The largest document file accepted (the protocol library's default limit).
constexpr uint64_t MaxDocumentBytes = 256u << 20;

// Sends the request and walks its answer into answer. LinkOk when an answer was walked.
uint32_t SendCommand(const DeviceAddress& device, const StorageRequest& request, const LinkTimeouts& timeouts,
                     StorageAnswer& answer);
// Fetches the file at the device path into localPath; on any failure nothing is left there.
uint32_t FetchFile(const DeviceAddress& device, const std::string& devicePath, const std::string& localPath);

// What a result code means, for messages.
std::string LinkResultText(uint32_t code);
// The device cannot be reached any more (or the user interrupted): a run of many requests stops.
bool LinkLost(uint32_t code);

// The same checks the protocol library applies before any traffic.
bool IsPlainHost(const std::string& host);
bool IsDevicePath(const std::string& path);
