// The saved settings on Windows are the source's own: qrvcofig.ini beside the tool (installed
// beside the source) names the product key ("RegKey"), under which the registry holds the device's
// address (the user's, else the machine's), the machine's port and the user entry of the user's
// saved logon. The tool only reads them: a user without an address of their own keeps none.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "tools/qrvbox/platform.h"
#include "tools/qrvbox/settings.h"

namespace {

constexpr char CommonKeyPattern[] = "SOFTWARE\\Vantrel\\%s\\Common";
constexpr char StorageSettingsKeyPattern[] = "SOFTWARE\\Vantrel\\%s\\TWAIN\\Sylvane";
constexpr size_t StorageSettingsBytes = 92;
constexpr size_t SelectedUserOffset = 36;
constexpr size_t SelectedUserBytes = 35;

std::string RegKey() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    wchar_t* name = length && length < MAX_PATH ? wcsrchr(path, L'\\') : nullptr;
    if (!name || (name - path) + 14 >= MAX_PATH) return {};
    wcscpy(name + 1, L"qrvcofig.ini");
    char key[260] = "";
    char ini[MAX_PATH * 3];
    if (!WideCharToMultiByte(CP_ACP, 0, path, -1, ini, sizeof ini, nullptr, nullptr)) return {};
    GetPrivateProfileStringA("TWAIN", "RegKey", "", key, sizeof key, ini);
    return key;
}

std::string KeyPath(const char* pattern, const std::string& regKey) {
    std::string path = pattern;
    path.replace(path.find("%s"), 2, regKey);
    return path;
}

// A value of at most 260 bytes, of any stored type, as text; empty when missing.
std::string ReadText(HKEY root, const std::string& path, const char* name) {
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
    char value[261] = "";
    DWORD size = 260, type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS) size = 0;
    RegCloseKey(key);
    value[size < 260 ? size : 260] = '\0';
    return value;
}

// The port as the source reads it: a decimal number, 80 when its low 16 bits are 0.
int PortOf(const std::string& text) {
    const unsigned long number = std::strtoul(text.c_str(), nullptr, 10);
    return (number & 0xFFFF) == 0 ? 80 : static_cast<int>(number & 0xFFFF);
}

std::string SelectedUser(const std::string& regKey) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, KeyPath(StorageSettingsKeyPattern, regKey).c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return {};
    unsigned char record[StorageSettingsBytes] = {};
    DWORD size = sizeof record, type = 0;
    const bool read = RegQueryValueExA(key, "SB Mode", nullptr, &type, record, &size) == ERROR_SUCCESS &&
                      size == sizeof record;
    RegCloseKey(key);
    if (!read) return {};
    const char* user = reinterpret_cast<const char*>(record + SelectedUserOffset);
    return std::string(user, strnlen(user, SelectedUserBytes - 1));
}

// Texts of the ANSI code page, in UTF-8 like everything else in the tool.
std::string Utf8OfAnsi(const std::string& ansi) {
    const int length = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), length);
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size, nullptr, nullptr);
    return text;
}

}  // namespace

bool ReadSavedSettings(SavedSettings& saved, std::string& problem) {
    saved = SavedSettings{};
    const std::string regKey = RegKey();
    if (regKey.empty()) return true;
    const std::string common = KeyPath(CommonKeyPattern, regKey);
    std::string address = ReadText(HKEY_CURRENT_USER, common, "Server Address");
    if (address.empty()) address = ReadText(HKEY_LOCAL_MACHINE, common, "Server Address");
    // Blanks around a stored address are not part of it.
    const size_t start = address.find_first_not_of(" \t");
    address = start == std::string::npos ? "" : address.substr(start, address.find_last_not_of(" \t") - start + 1);
    saved.device = Utf8OfAnsi(address);
    saved.port = PortOf(ReadText(HKEY_LOCAL_MACHINE, common, "HttpPort"));
    saved.user = Utf8OfAnsi(SelectedUser(regKey));
    return true;
}

std::string SavedSettingsPlace() {
    const std::string regKey = RegKey();
    if (regKey.empty()) return "the source's registry settings (none: qrvcofig.ini beside qrvbox names no RegKey)";
    return "the source's registry settings under SOFTWARE\\Vantrel\\" + regKey + " (\"Select Orvel\" and the logon)";
}
