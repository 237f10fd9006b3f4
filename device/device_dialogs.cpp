#include "device/device_dialogs.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "device/config_store.h"
#include "device/window_routines.h"
#include "source/source_state.h"

namespace {

const ControlText SettingsDialogTexts[] = {{0, 20400}, {1039, 20401}, {1065, 20402}, {1, 20403}, {2, 20404}, {-1, 0}};
const ControlText SelectDialogTexts[] = {{0, 20300}, {1049, 20301}, {2, 20302}, {-1, 0}};

constexpr UINT DeviceTypeFilterString = 50;
constexpr UINT AddressColumnString = 48;
constexpr UINT NameColumnString = 49;

// ---- "Orvel setting"

BOOL OnSettingsInit(HWND dialog)
{
    ApplyControlTexts(dialog, SettingsDialogTexts);
    HWND edit = GetDlgItem(dialog, AddressEditId);
    SendMessageA(edit, EM_LIMITTEXT, MAX_PATH, 0);
    char address[MAX_PATH];
    ReadServerAddress(address);
    SetWindowTextA(edit, address);
    CenterOverParent(dialog);
    return TRUE;
}

void OnSettingsOk(HWND dialog)
{
    char address[DeviceAddressSize];
    GetDlgItemTextA(dialog, AddressEditId, address, sizeof address);
    WriteServerAddress(address);
    EndDialog(dialog, IDOK);
}

void OnSearch(HWND dialog)
{
    RunDeviceSearch();
    char address[DeviceAddressSize] = "";
    INT_PTR chosen = DialogBoxParamA(OwnModule, MAKEINTRESOURCEA(SelectDialogTemplate), dialog,
                                     SelectDialogProc, reinterpret_cast<LPARAM>(address));
    if (chosen == IDOK)
        SetDlgItemTextA(dialog, AddressEditId, address);
}

void OnSettingsCommand(HWND dialog, WPARAM wParam)
{
    switch (LOWORD(wParam)) {
    case IDOK:
        OnSettingsOk(dialog);
        break;
    case IDCANCEL:
        EndDialog(dialog, IDCANCEL);
        break;
    case SearchButtonId:
        OnSearch(dialog);
        break;
    }
}

// ---- "Orvel select"

BOOL OnSelectInit(HWND dialog, LPARAM buffer)
{
    ApplyControlTexts(dialog, SelectDialogTexts);
    // The caller's buffer stays with the dialog for as long as it is open.
    SetWindowLongPtrA(dialog, DWLP_USER, buffer);
    FillDeviceList(dialog);
    return TRUE;
}

void ChooseSelectedDevice(HWND dialog)
{
    char* chosen = reinterpret_cast<char*>(GetWindowLongPtrA(dialog, DWLP_USER));
    char unused[DeviceAddressSize];
    if (GetSelectedDeviceAddress(dialog, chosen ? chosen : unused))
        EndDialog(dialog, IDOK);
}

void OnSelectCommand(HWND dialog, WPARAM wParam)
{
    switch (LOWORD(wParam)) {
    case SettingButtonId:
        ChooseSelectedDevice(dialog);
        break;
    case IDCANCEL:
        EndDialog(dialog, IDCANCEL);
        break;
    }
}

void OnSelectNotify(HWND dialog, const NMHDR* header)
{
    if (header->idFrom == DeviceListId && header->code == NM_DBLCLK)
        ChooseSelectedDevice(dialog);
}

// A string value that fits in size bytes with its terminator; false when missing or too long.
bool ReadListValue(HKEY key, const char* name, char* buffer, DWORD size)
{
    DWORD type = 0, length = size;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &length) != ERROR_SUCCESS)
        return false;
    if (length >= size && (length == 0 || buffer[length - 1] != '\0'))
        return false;
    buffer[length < size ? length : size - 1] = '\0';
    return true;
}

void AppendDevice(HWND list, char* address, char* name)
{
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    item.pszText = address;
    int row = static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    if (row < 0)
        return;
    item.iItem = row;
    item.iSubItem = 1;
    item.pszText = name;
    SendMessageA(list, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
}

void ReadDeviceRows(HWND list)
{
    char filter[8];
    LoadResourceString(DeviceTypeFilterString, filter, sizeof filter);
    char path[MAX_PATH];
    HKEY key;
    if (!FormatRegKeyPath(path, DeviceListKeyPattern) ||
        RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    DWORD count = 0, size = sizeof count, type = 0;
    if (RegQueryValueExA(key, "Index", nullptr, &type, reinterpret_cast<BYTE*>(&count), &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        count = 0;
    for (DWORD n = 1; n <= count; ++n) {
        char name[16], entryType[8], address[DeviceAddressSize], deviceName[64];
        snprintf(name, sizeof name, "%lut", static_cast<unsigned long>(n));
        if (!ReadListValue(key, name, entryType, sizeof entryType))
            break;
        if (strcmp(entryType, filter) != 0)
            continue;
        snprintf(name, sizeof name, "%lu", static_cast<unsigned long>(n));
        if (!ReadListValue(key, name, address, sizeof address))
            break;
        snprintf(name, sizeof name, "%lun", static_cast<unsigned long>(n));
        if (!ReadListValue(key, name, deviceName, sizeof deviceName))
            break;
        AppendDevice(list, address, deviceName);
    }
    RegCloseKey(key);
}

}  // namespace

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnSettingsInit(dialog);
    case WM_COMMAND:
        OnSettingsCommand(dialog, wParam);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK SelectDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnSelectInit(dialog, lParam);
    case WM_COMMAND:
        OnSelectCommand(dialog, wParam);
        return TRUE;
    case WM_NOTIFY:
        OnSelectNotify(dialog, reinterpret_cast<const NMHDR*>(lParam));
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR RunSettingsDialog(HWND owner)
{
    return DialogBoxParamA(OwnModule, MAKEINTRESOURCEA(SettingsDialogTemplate), owner, SettingsDialogProc, 0);
}

// The tool is installed beside the module, in a folder that no search for executables visits
// (it looks in the application's folder, the current one, the system's and PATH); there it is
// started by its full path. Elsewhere the usual search finds it, as it always has.
static void SearchToolCommand(char* command, size_t size)
{
    static const char toolName[] = "qrvssearch.exe";
    snprintf(command, size, "%s", toolName);
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(OwnModule, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return;
    char* name = strrchr(path, '\\');
    if (!name || size_t(name + 1 - path) + sizeof toolName > sizeof path)
        return;
    strcpy(name + 1, toolName);
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
        snprintf(command, size, "\"%s\"", path);
}

void RunDeviceSearch()
{
    HCURSOR previous = SetCursor(LoadCursor(nullptr, IDC_WAIT));
    char command[MAX_PATH + 3];
    SearchToolCommand(command, sizeof command);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                       &startup, &process)) {
        CloseHandle(process.hThread);
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hProcess);
    }
    SetCursor(previous);
}

void FillDeviceList(HWND dialog)
{
    HWND list = GetDlgItem(dialog, DeviceListId);
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    while (SendMessageA(list, LVM_DELETECOLUMN, 0, 0))
        ;
    RECT client{};
    GetClientRect(list, &client);
    AddListColumn(list, 0, AddressColumnString, client.right * 4 / 10, LVCFMT_LEFT);
    AddListColumn(list, 1, NameColumnString, client.right * 5 / 10, LVCFMT_LEFT);
    ReadDeviceRows(list);
    BOOL rows = SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) > 0;
    EnableWindow(list, rows);
    EnableWindow(GetDlgItem(dialog, SettingButtonId), rows);
    SetForegroundWindow(dialog);
}

int GetSelectedDeviceAddress(HWND dialog, char* buffer)
{
    HWND list = GetDlgItem(dialog, DeviceListId);
    int row = static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    if (row < 0)
        return 0;
    LVITEMA item{};
    item.iSubItem = 0;
    item.pszText = buffer;
    item.cchTextMax = DeviceAddressSize;
    buffer[0] = '\0';
    SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    buffer[DeviceAddressSize - 1] = '\0';
    return 1;
}
