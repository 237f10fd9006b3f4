#include "tools/qrvbox/settings.h"

#include <cstdlib>

#include "tools/qrvbox/platform.h"

namespace {

// The longest password line read; the source's logon takes 20 characters.
constexpr size_t MaxPasswordLine = 1024;

bool ParsePort(const std::string& text, int& port) {
    if (text.empty() || text.size() > 5) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    port = std::atoi(text.c_str());
    return port >= 1 && port <= 65535;
}

}  // namespace

bool ParseDeviceAddress(const std::string& text, DeviceAddress& device, bool* portGiven) {
    std::string host = text;
    std::string port;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos) return false;
        host = text.substr(1, close - 1);
        if (close + 1 < text.size()) {
            if (text[close + 1] != ':') return false;
            port = text.substr(close + 2);
            if (port.empty()) return false;
        }
        if (host.find(':') == std::string::npos) return false;
    } else {
        const size_t colon = text.find(':');
        if (colon != std::string::npos) {
            host = text.substr(0, colon);
            port = text.substr(colon + 1);
            if (port.empty()) return false;
        }
    }
    device.host = host;
    device.port = 80;
    if (portGiven) *portGiven = !port.empty();
    return IsPlainHost(host) && (port.empty() || ParsePort(port, device.port));
}

bool ResolveSettings(const CommandLine& line, Settings& settings, std::string& problem) {
    settings = Settings{};
    SavedSettings saved;
    if (!ReadSavedSettings(saved, problem)) return false;
    const std::string device = !line.device.empty() ? line.device : saved.device;
    if (!device.empty()) {
        bool portGiven = false;
        if (!ParseDeviceAddress(device, settings.device, &portGiven)) {
            problem = "'" + device + "' is no device address (HOST[:PORT])";
            return false;
        }
        // A port kept apart from a saved address counts unless the address names its own.
        if (line.device.empty() && saved.port > 0 && !portGiven) settings.device.port = saved.port;
        settings.haveDevice = true;
    }
    settings.user = !line.user.empty() ? line.user : saved.user;
    settings.passwordFile = !line.passwordFile.empty() ? line.passwordFile : saved.passwordFile;
    return true;
}

bool GivenPassword(const Settings& settings, std::string& password, bool& given, std::string& problem) {
    password.clear();
    given = false;
    if (!settings.passwordFile.empty()) {
        const std::string& path = settings.passwordFile;
        std::string why;
        if (!OwnerOnlyFile(path, why)) {
            problem = "the password file " + path + " cannot be used: " + why;
            return false;
        }
        FILE* file = OpenFile(path, "rb");
        if (!file) {
            problem = "the password file " + path + " cannot be read";
            return false;
        }
        int c;
        while ((c = std::fgetc(file)) != EOF && c != '\n' && password.size() < MaxPasswordLine)
            password += static_cast<char>(c);
        std::fclose(file);
        if (!password.empty() && password.back() == '\r') password.pop_back();
        given = true;
        return true;
    }
    given = EnvironmentValue("QRVBOX_PASSWORD", password);
    return true;
}
