// The device list the search leaves in the registry for the device dialogs: under the current
// user's "Software\Vantrel\<RegKey>\Common\Server", "Index" (a 32-bit number N) and, for each n
// from 1 to N, "<n>t" (the type), "<n>" (the address) and "<n>n" (the name).
#pragma once

#include <string>
#include <vector>

#include "tools/device_search/concurrent_probe.h"

// Room the dialogs give each value, terminator included.
constexpr int DeviceTypeRoom = 8;
constexpr int DeviceAddressRoom = 32;
constexpr int DeviceNameRoom = 64;

// A device's text (UTF-8) in the ANSI code page, cut at a character boundary to fit room bytes
// with the terminator.
std::string DeviceText(const std::string& utf8, int room);

// Replaces the previous list (every value of the key goes) with these devices; false when the
// product key is empty or the key cannot be written.
bool WriteDeviceList(const std::string& regKey, const std::vector<DeviceFound>& devices);
