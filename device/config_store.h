// Settings of the source: the INI file beside the module, the registry keys under the maker's
// software key, and the temporary work directory.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// Registry path patterns; "%s" is the INI key "RegKey".
constexpr const char* CommonKeyPattern = "SOFTWARE\\Vantrel\\%s\\Common";
constexpr const char* DeviceListKeyPattern = "Software\\Vantrel\\%s\\Common\\Server";
constexpr const char* StorageSettingsKeyPattern = "SOFTWARE\\Vantrel\\%s\\TWAIN\\Sylvane";

// The 92-byte "SB Mode" record of the saved transfer options and logon, little-endian.
#pragma pack(push, 1)
struct StorageSettingsRecord {
    int32_t resolutionChoice;
    int32_t pageRangeChoice;
    int32_t pixelTypeChoice;
    int32_t sortColumn;
    int32_t sortDescending;
    int32_t previewOn;
    int32_t deleteAfterDownload;
    int32_t fixedSizeOn;
    int32_t fixedSizeChoice;
    char selectedUser[35];
    uint8_t password[20];  // the password's bytes, each bitwise complemented
    uint8_t terminator;
};
#pragma pack(pop)
static_assert(sizeof(StorageSettingsRecord) == 92);
static_assert(offsetof(StorageSettingsRecord, selectedUser) == 36);
static_assert(offsetof(StorageSettingsRecord, password) == 71);

// The saved logon password lives beside "SB Mode" in a value of its own, protected with the
// user's Windows data protection; the record's own password field is left empty.
constexpr const char* ProtectedPasswordValue = "SB Logon";

// Full path of the current work directory, ending with a backslash; empty when there is none.
extern char WorkDirectory[MAX_PATH];

int GetIniPath(char* buffer, int size);
int ReadDriverName(char* buffer, int size);
int SetCaptionFromDriverName(HWND window);
int ReadIniInt(const char* section, const char* key, int defaultValue);
int FormatRegKeyPath(char* buffer, const char* pattern);
void ReadServerAddress(char* buffer);
void WriteServerAddress(const char* text);
unsigned ReadServerPort();
int CreateWorkDirectory();
int DeleteDirectoryTree(const char* path);
void DisableTabTheme(HWND window);
// The protected password saved for the current user: 1 and the text (cut to size - 1) when one
// is saved and this user on this machine can unprotect it; 0 and an empty buffer otherwise.
int ReadProtectedPassword(char* buffer, size_t size);
// Saves the password protected; an empty password, or one that cannot be protected, leaves no
// value at all. 1 when what is stored is what was asked for.
int WriteProtectedPassword(const char* password);
