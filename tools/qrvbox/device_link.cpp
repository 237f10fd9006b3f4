// What both links share: the checks made before any traffic and the meaning of result codes.
#include "tools/qrvbox/device_link.h"

#include <cctype>
#include <cstring>

namespace {

constexpr size_t MaxHostLength = 253;
constexpr size_t MaxDevicePathLength = 2048;

}  // namespace

// A host name, a dotted address or an IPv6 address: nothing that could carry a scheme, a port,
// a path or a user part into the request.
bool IsPlainHost(const std::string& host) {
    if (host.empty() || host.size() > MaxHostLength) return false;
    const bool ipv6 = host.find(':') != std::string::npos;
    for (unsigned char c : host) {
        const bool allowed = ipv6 ? (std::isxdigit(c) || c == ':' || c == '.')
                                  : (std::isalnum(c) || c == '.' || c == '-' || c == '_');
        if (!allowed) return false;
    }
    return true;
}

// A path on the device's own host: no scheme, no host, nothing but printable ASCII.
bool IsDevicePath(const std::string& path) {
    if (path.empty() || path[0] != '/' || (path.size() > 1 && path[1] == '/') || path.size() > MaxDevicePathLength)
        return false;
    for (char c : path)
        if (c < '!' || c > '~' || c == '\\' || c == '#') return false;
    return true;
}

std::string LinkResultText(uint32_t code) {
    switch (code) {
    case LinkOk: return "success";
    case LinkTimedOut: return "the device did not answer in time";
    case LinkRefusedAddress: return "the address or the document's device path was refused";
    case LinkNameNotResolved: return "the device's name could not be resolved";
    case LinkCancelled: return "interrupted";
    case LinkCannotConnect: return "cannot connect to the device";
    case LinkConnectionAborted: return "the device closed the connection without an answer";
    case LinkConnectionReset: return "the connection to the device was reset";
    case LinkBadAnswer: return "the device's answer was refused (malformed, cut short, too large or in another coding)";
    case LinkFileError: return "the file could not be written";
    case LinkBadFileName: return "the file's path cannot be written in the system's code page";
    case LinkNoLibrary: return "the protocol library qrvxpmns.dll beside qrvbox cannot be loaded";
    }
    if (code >= 100 && code <= 599) return "the device answered with HTTP status " + std::to_string(code);
    return "the request failed (code " + std::to_string(code) + ")";
}

bool LinkLost(uint32_t code) {
    return code == LinkTimedOut || code == LinkNameNotResolved || code == LinkCancelled || code == LinkCannotConnect;
}
