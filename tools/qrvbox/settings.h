// Which device and which user: the command line first, then the settings kept on the machine
// (the source's own registry settings on Windows, a small configuration file on Linux); and where
// the password comes from.
#pragma once

#include <string>

#include "tools/qrvbox/command_line.h"
#include "tools/qrvbox/device_link.h"

// The settings kept on the machine, as found (empty when not set).
struct SavedSettings {
    std::string device;        // HOST[:PORT], or only a host with the port apart
    int port = 0;              // a port kept apart from the address (Windows), 0 when none
    std::string user;          // a user id, or the source's "id:name" user entry
    std::string passwordFile;  // the configuration file's password-file (Linux)
};

// Reads the saved settings; false with the reason when they exist but cannot be used.
bool ReadSavedSettings(SavedSettings& saved, std::string& problem);

struct Settings {
    DeviceAddress device;
    bool haveDevice = false;
    std::string user;          // matched against the users' ids over their first three bytes
    std::string passwordFile;
};

// HOST, HOST:PORT, [IPv6] or [IPv6]:PORT; the port from 1 to 65535, 80 when not given.
bool ParseDeviceAddress(const std::string& text, DeviceAddress& device, bool* portGiven = nullptr);

// The command line over the saved settings; false with the reason.
bool ResolveSettings(const CommandLine& line, Settings& settings, std::string& problem);

// The password: the first line of the password file (which only its owner may read), else the
// QRVBOX_PASSWORD environment variable. False with the reason when a file is named but cannot
// be used; given is false when neither names a password.
bool GivenPassword(const Settings& settings, std::string& password, bool& given, std::string& problem);
