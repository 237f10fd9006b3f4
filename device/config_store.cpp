#include "device/config_store.h"

#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "device/storage_tables.h"
#include "source/source_state.h"

char WorkDirectory[MAX_PATH];

namespace {

constexpr const char* IniSection = "TWAIN";
constexpr const char* IniFileName = "qrvcofig.ini";

// Copies src into a buffer of size bytes, cut to fit and always terminated.
void CopyCut(char* buffer, size_t size, const char* src)
{
    if (size == 0)
        return;
    size_t length = strnlen(src, size - 1);
    memcpy(buffer, src, length);
    buffer[length] = '\0';
}

// Reads a registry value of any type as text into a buffer of MAX_PATH bytes, cut to fit;
// empty when missing. Values need not carry a terminator.
void ReadRegistryText(HKEY root, const char* path, const char* name, char* buffer)
{
    buffer[0] = '\0';
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS &&
        size <= 0x10000) {
        std::vector<char> value(size + 1, '\0');
        if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value.data()),
                             &size) == ERROR_SUCCESS)
            CopyCut(buffer, MAX_PATH, value.data());
    }
    RegCloseKey(key);
}

// Mixed into the protection, so that the blob is this source's saved logon and nothing else.
constexpr char PasswordEntropy[] = "qrvkbx saved logon";
constexpr DWORD MaxProtectedSize = 4096;

DATA_BLOB Blob(const void* data, size_t size)
{
    return {static_cast<DWORD>(size), static_cast<BYTE*>(const_cast<void*>(data))};
}

HKEY OpenSettingsKey(REGSAM access, bool create)
{
    char path[MAX_PATH];
    HKEY key = nullptr;
    if (!FormatRegKeyPath(path, StorageSettingsKeyPattern))
        return nullptr;
    LONG opened = create ? RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, access, nullptr, &key, nullptr)
                         : RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, access, &key);
    return opened == ERROR_SUCCESS ? key : nullptr;
}

int ReadIniText(const char* key, char* buffer, int size)
{
    char ini[MAX_PATH];
    buffer[0] = '\0';
    if (!GetIniPath(ini, sizeof ini))
        return 0;
    return static_cast<int>(GetPrivateProfileStringA(IniSection, key, "", buffer, size, ini));
}

}  // namespace

int GetIniPath(char* buffer, int size)
{
    char modulePath[MAX_PATH];
    DWORD length = GetModuleFileNameA(OwnModule, modulePath, sizeof modulePath);
    if (length == 0 || length >= sizeof modulePath)
        return 0;
    char* fileName = nullptr;
    DWORD full = GetFullPathNameA(modulePath, size, buffer, &fileName);
    if (full == 0 || full >= static_cast<DWORD>(size) || !fileName)
        return 0;
    size_t folderLength = static_cast<size_t>(fileName - buffer);
    if (folderLength + strlen(IniFileName) >= static_cast<size_t>(size))
        return 0;
    strcpy(fileName, IniFileName);
    return 1;
}

int ReadDriverName(char* buffer, int size)
{
    if (size <= 0)
        return 0;
    char name[MAX_PATH];
    ReadIniText("DriverName", name, sizeof name);
    CopyCut(buffer, static_cast<size_t>(size), name);
    return buffer[0] != '\0';
}

int SetCaptionFromDriverName(HWND window)
{
    char name[MAX_PATH];
    if (!ReadDriverName(name, sizeof name))
        return 0;
    SetWindowTextA(window, name);
    return 1;
}

int ReadIniInt(const char* section, const char* key, int defaultValue)
{
    char ini[MAX_PATH];
    if (!GetIniPath(ini, sizeof ini))
        return 0;
    return static_cast<int>(GetPrivateProfileIntA(section, key, defaultValue, ini));
}

// A product key so long that the path would not fit is refused rather than cut, so that no
// other product's key is ever opened by mistake.
int FormatRegKeyPath(char* buffer, const char* pattern)
{
    char regKey[MAX_PATH];
    buffer[0] = '\0';
    if (!ReadIniText("RegKey", regKey, sizeof regKey) || regKey[0] == '\0')
        return 0;
    int length = snprintf(buffer, MAX_PATH, pattern, regKey);
    if (length < 0 || length >= MAX_PATH) {
        buffer[0] = '\0';
        return 0;
    }
    return 1;
}

void ReadServerAddress(char* buffer)
{
    char path[MAX_PATH];
    buffer[0] = '\0';
    if (!FormatRegKeyPath(path, CommonKeyPattern))
        return;
    ReadRegistryText(HKEY_CURRENT_USER, path, "Server Address", buffer);
    if (buffer[0] != '\0')
        return;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    RegCloseKey(key);
    ReadRegistryText(HKEY_LOCAL_MACHINE, path, "Server Address", buffer);
    WriteServerAddress(buffer);
}

void WriteServerAddress(const char* text)
{
    char path[MAX_PATH];
    if (!FormatRegKeyPath(path, CommonKeyPattern))
        return;
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, "Server Address", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>(strlen(text)));
    RegCloseKey(key);
}

// The port is a 16-bit value: "0", no digits or no value at all give the HTTP default.
unsigned ReadServerPort()
{
    char path[MAX_PATH];
    char text[MAX_PATH] = "";
    if (FormatRegKeyPath(path, CommonKeyPattern))
        ReadRegistryText(HKEY_LOCAL_MACHINE, path, "HttpPort", text);
    unsigned port = static_cast<unsigned>(strtoul(text, nullptr, 10)) & 0xFFFF;
    return port == 0 ? 80 : port;
}

int CreateWorkDirectory()
{
    CurrentDocumentPath[0] = '\0';
    if (WorkDirectory[0] != '\0') {
        DeleteDirectoryTree(WorkDirectory);
        WorkDirectory[0] = '\0';
    }
    char tempPath[MAX_PATH];
    DWORD length = GetTempPathA(sizeof tempPath, tempPath);
    if (length == 0 || length >= sizeof tempPath)
        return 0;
    char name[MAX_PATH];
    if (!GetTempFileNameA(tempPath, "Qrv", 0, name))
        return 0;
    DeleteFileA(name);
    size_t nameLength = strlen(name);
    if (nameLength == 0 || name[nameLength - 1] != '\\') {
        if (nameLength + 1 >= sizeof name)
            return 0;
        strcat(name, "\\");
    }
    if (!CreateDirectoryA(name, nullptr))
        return 0;
    strcpy(WorkDirectory, name);
    return 1;
}

int DeleteDirectoryTree(const char* path)
{
    if (!path || path[0] == '\0')
        return 0;
    char pattern[MAX_PATH];
    if (snprintf(pattern, sizeof pattern, "%s*.*", path) >= static_cast<int>(sizeof pattern))
        return 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0)
                continue;
            char entry[MAX_PATH];
            bool directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            int length = snprintf(entry, sizeof entry, directory ? "%s%s\\" : "%s%s", path,
                                  found.cFileName);
            if (length >= static_cast<int>(sizeof entry))
                continue;
            if (directory)
                DeleteDirectoryTree(entry);
            else
                DeleteFileA(entry);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    return RemoveDirectoryA(path);
}

void DisableTabTheme(HWND window)
{
    HMODULE theme = LoadLibraryA("UxTheme.dll");
    if (!theme)
        return;
    using SetWindowThemeProc = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
    auto setWindowTheme =
        reinterpret_cast<SetWindowThemeProc>(GetProcAddress(theme, "SetWindowTheme"));
    if (setWindowTheme)
        setWindowTheme(window, L" ", L" ");
    FreeLibrary(theme);
}

int ReadProtectedPassword(char* buffer, size_t size)
{
    if (size == 0)
        return 0;
    buffer[0] = '\0';
    HKEY key = OpenSettingsKey(KEY_READ, false);
    if (!key)
        return 0;
    std::vector<BYTE> stored(MaxProtectedSize);
    DWORD storedSize = MaxProtectedSize, type = 0;
    LONG read = RegQueryValueExA(key, ProtectedPasswordValue, nullptr, &type, stored.data(), &storedSize);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS || type != REG_BINARY || storedSize == 0)
        return 0;
    // Another user's or another machine's value does not unprotect: no saved password.
    DATA_BLOB in = Blob(stored.data(), storedSize);
    DATA_BLOB entropy = Blob(PasswordEntropy, sizeof PasswordEntropy - 1);
    DATA_BLOB plain{};
    if (!CryptUnprotectData(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &plain))
        return 0;
    size_t length = strnlen(reinterpret_cast<const char*>(plain.pbData), plain.cbData);
    length = length < size - 1 ? length : size - 1;
    memcpy(buffer, plain.pbData, length);
    buffer[length] = '\0';
    SecureZeroMemory(plain.pbData, plain.cbData);
    LocalFree(plain.pbData);
    return 1;
}

int WriteProtectedPassword(const char* password)
{
    HKEY key = OpenSettingsKey(KEY_READ | KEY_WRITE, true);
    if (!key)
        return 0;
    DATA_BLOB in = Blob(password, strlen(password));
    DATA_BLOB entropy = Blob(PasswordEntropy, sizeof PasswordEntropy - 1);
    DATA_BLOB protectedBlob{};
    bool stored = false;
    if (in.cbData > 0 &&
        CryptProtectData(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &protectedBlob)) {
        stored = RegSetValueExA(key, ProtectedPasswordValue, 0, REG_BINARY, protectedBlob.pbData,
                                protectedBlob.cbData) == ERROR_SUCCESS;
        LocalFree(protectedBlob.pbData);
    }
    // Nothing to keep, or it could not be kept protected: an older value must not stand in for it.
    if (!stored)
        RegDeleteValueA(key, ProtectedPasswordValue);
    RegCloseKey(key);
    return stored || in.cbData == 0 ? 1 : 0;
}
