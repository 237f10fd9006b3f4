// The dialogs that choose the device: "Orvel setting" (the address) and "Orvel select" (the
// devices the search tool found), and the search tool's run.
#pragma once

#include <windows.h>

constexpr int SettingsDialogTemplate = 10011;
constexpr int SelectDialogTemplate = 10010;
constexpr int AddressEditId = 1050;
constexpr int SearchButtonId = 1039;
constexpr int ExampleTextId = 1065;
constexpr int DeviceListId = 1047;
constexpr int SettingButtonId = 1049;
// The longest address the settings dialog stores, and the select dialog's buffer for it.
constexpr int DeviceAddressSize = 32;

// Ends with 1 after OK (the address is stored) or 2 after Cancel.
INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Its creation parameter is a buffer of DeviceAddressSize bytes; ends with 1 when a device was
// chosen (its address is in the buffer) or 2.
INT_PTR CALLBACK SelectDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Runs "qrvssearch.exe" to its end; returns at once when it cannot be started.
void RunDeviceSearch();
// The rows of the registry device list whose type is the offered one.
void FillDeviceList(HWND dialog);
// 1 and column 0 of the selected row (at most 31 characters) when a row is selected.
int GetSelectedDeviceAddress(HWND dialog, char* buffer);
// Runs "Orvel setting" modally; 1 after OK.
INT_PTR RunSettingsDialog(HWND owner);
