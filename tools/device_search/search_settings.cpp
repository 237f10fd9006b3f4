#include "tools/device_search/search_settings.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr const char* CommonKeyPattern = "SOFTWARE\\Vantrel\\%s\\Common";

std::string IniPath()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return {};
    std::string text(path, length);
    size_t slash = text.find_last_of("\\/");
    return text.substr(0, slash == std::string::npos ? 0 : slash + 1) + "qrvcofig.ini";
}

std::string IniText(const std::string& ini, const char* section, const char* key)
{
    char value[4096] = "";
    GetPrivateProfileStringA(section, key, "", value, sizeof value, ini.c_str());
    return value;
}

// The port the data source itself uses for the device: "HttpPort" of the local machine.
uint16_t DevicePort(const std::string& regKey)
{
    char path[MAX_PATH];
    if (regKey.empty() || snprintf(path, sizeof path, CommonKeyPattern, regKey.c_str()) >= MAX_PATH)
        return 80;
    char value[MAX_PATH] = "";
    DWORD size = sizeof value - 1;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegQueryValueExA(key, "HttpPort", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
        RegCloseKey(key);
    }
    unsigned long port = strtoul(value, nullptr, 10);
    return (port & 0xFFFF) == 0 ? 80 : static_cast<uint16_t>(port);
}

bool ParsePort(const std::string& text, uint16_t& port)
{
    char* end = nullptr;
    unsigned long value = strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end || value == 0 || value > 65535)
        return false;
    port = static_cast<uint16_t>(value);
    return true;
}

}  // namespace

bool LoopbackGuardSet()
{
    char value[16];
    DWORD length = GetEnvironmentVariableA(LoopbackGuardVariable, value, sizeof value);
    return length > 0 && !(length == 1 && value[0] == '0');
}

bool ReadSearchSettings(const std::vector<std::string>& arguments, SearchSettings& settings, std::string& error)
{
    std::string ini = IniPath();
    settings.regKey = IniText(ini, "TWAIN", "RegKey");
    settings.loopbackOnly = LoopbackGuardSet();
    std::string iniPort = IniText(ini, "Search", "Port");
    if (iniPort.empty())
        settings.port = DevicePort(settings.regKey);
    else if (!ParsePort(iniPort, settings.port)) {
        error = "The port \"" + iniPort + "\" in qrvcofig.ini is not a port number.";
        return false;
    }
    std::string named;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--port") {
            if (i + 1 >= arguments.size() || !ParsePort(arguments[i + 1], settings.port)) {
                error = "--port needs a port number from 1 to 65535.";
                return false;
            }
            ++i;
        } else if (!arguments[i].empty() && arguments[i][0] == '-') {
            error = "Unknown option " + arguments[i] + ".\nUsage: qrvssearch [--port N] [ADDRESS | FIRST-LAST | NET/BITS]...";
            return false;
        } else {
            named += arguments[i] + " ";
        }
    }
    settings.namedTargets = named.empty() ? IniText(ini, "Search", "Targets") : named;
    return true;
}
