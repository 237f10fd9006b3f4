#include "tools/device_search/device_list.h"

#include <windows.h>

#include <cstdio>

namespace {

constexpr const char* DeviceListKeyPattern = "Software\\Vantrel\\%s\\Common\\Server";

bool SetString(HKEY key, const std::string& name, const std::string& value)
{
    return RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

// Deletes every value of the key (the key may hold nothing else the search owns).
void DeleteAllValues(HKEY key)
{
    char name[256];
    for (;;) {
        DWORD length = sizeof name;
        if (RegEnumValueA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return;
        if (RegDeleteValueA(key, name) != ERROR_SUCCESS)
            return;
    }
}

}  // namespace

std::string DeviceText(const std::string& utf8, int room)
{
    int wideLength = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (wideLength <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), wideLength);
    // Whole characters only: drop wide characters from the end until the ANSI text fits.
    for (size_t count = wide.size();; --count) {
        int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(count), nullptr, 0, nullptr, nullptr);
        if (length < room) {
            std::string text(static_cast<size_t>(length), '\0');
            WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(count), text.data(), length, nullptr,
                                nullptr);
            return text;
        }
        if (count == 0)
            return {};
    }
}

bool WriteDeviceList(const std::string& regKey, const std::vector<DeviceFound>& devices)
{
    char path[MAX_PATH];
    if (regKey.empty() || snprintf(path, sizeof path, DeviceListKeyPattern, regKey.c_str()) >= MAX_PATH)
        return false;
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    DeleteAllValues(key);
    bool ok = true;
    DWORD index = 0;
    for (const DeviceFound& device : devices) {
        std::string number = std::to_string(++index);
        ok = ok && SetString(key, number + "t", DeviceText(device.type, DeviceTypeRoom)) &&
             SetString(key, number, DeviceText(FormatIPv4(device.address), DeviceAddressRoom)) &&
             SetString(key, number + "n", DeviceText(device.name, DeviceNameRoom));
    }
    // The count goes last: a reader never sees entries announced that are not there yet.
    ok = ok && RegSetValueExA(key, "Index", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&index), sizeof index) ==
                   ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}
