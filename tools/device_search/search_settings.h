// What a search is told: the product key from the INI file beside the tool, the port to probe,
// and the targets named on the command line or, failing that, in the INI file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/device_search/search_targets.h"

// Set (to anything but "" or "0"), the tool probes nothing outside 127.0.0.0/8: the test rig's
// guard against a mistake sending packets to another network.
constexpr const char* LoopbackGuardVariable = "QRV_SEARCH_LOOPBACK_ONLY";

struct SearchSettings {
    std::string regKey;
    uint16_t port = 80;
    std::string namedTargets;  // as written; empty: nothing was named
    bool loopbackOnly = false;
};

// Reads the settings: "RegKey" in section "TWAIN" and "Targets" and "Port" in section "Search"
// of qrvcofig.ini beside the tool; without a "Port", the device port the data source uses
// ("HttpPort" under the local machine's "Common" key, else 80). Command line:
// [--port N] [TARGET ...]; targets given there replace those of the INI file. False and a
// message for a command line it cannot read.
bool ReadSearchSettings(const std::vector<std::string>& arguments, SearchSettings& settings, std::string& error);

bool LoopbackGuardSet();
