// Reading a device's answer to the search probe ("GET /devinfo.cgi"): an HTTP 200 answer whose
// body holds DEVICEINFO with NAME and TYPE. The answer comes from the network and is read as
// hostile: bounded, and anything else is simply not a device.
#pragma once

#include <string>

// An answer longer than this is not a device's.
constexpr size_t MaxProbeAnswer = 8192;

enum class ProbeAnswer { Incomplete, Device, NotDevice };

// The probe request for a host; the Host field names address and port.
std::string ProbeRequest(const std::string& host, unsigned port);

// Reads what has arrived so far; closed: the peer has ended the connection. On Device, name and
// type hold the texts as sent (UTF-8), with entities resolved.
ProbeAnswer ReadProbeAnswer(const std::string& received, bool closed, std::string& name, std::string& type);
