#include "window/options_panel.h"

#include <commctrl.h>

#include <cstdlib>
#include <cstring>

#include "device/config_store.h"
#include "device/storage_tables.h"
#include "source/capability_store.h"
#include "source/page_sequencing.h"
#include "source/source_state.h"
#include "window/browser_state.h"

namespace {

constexpr int PaperEntriesMax = 16;

struct PaperFamily {
    UINT defaultName;
    UINT firstEntry;
};
const PaperFamily PaperFamilies[2] = {{2001, 2003}, {2051, 2053}};

// The paper field of the default record: the index of the family's default paper.
int DefaultPaperIndex = 0;

// A decimal field of an entry string; leading blanks are allowed ("F4,826, 1300").
int EntryNumber(const char* field)
{
    long value = strtol(field, nullptr, 10);
    return value < 0 ? 0 : value > 1000000 ? 1000000 : static_cast<int>(value);
}

HWND Control(int id) { return GetDlgItem(BrowserState.page, id); }

StorageSettingsRecord DefaultRecord()
{
    StorageSettingsRecord record{};
    record.resolutionChoice = NoChangeId;
    record.pageRangeChoice = CurrentPageId;
    record.pixelTypeChoice = BlackWhiteId;
    record.sortColumn = 1;
    record.fixedSizeChoice = DefaultPaperIndex;
    memset(record.password, 0xFF, sizeof record.password);
    return record;
}

void ReadSavedRecord(StorageSettingsRecord& record)
{
    char path[MAX_PATH];
    HKEY key;
    if (!FormatRegKeyPath(path, StorageSettingsKeyPattern) ||
        RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    StorageSettingsRecord saved;
    DWORD size = sizeof saved, type = 0;
    if (RegQueryValueExA(key, "SB Mode", nullptr, &type, reinterpret_cast<BYTE*>(&saved), &size) == ERROR_SUCCESS &&
        size == sizeof saved)
        record = saved;
    RegCloseKey(key);
}

void ApplyResolution(int choice)
{
    if (choice == NoChangeId) {
        SetResolutionChangeRequested(false);
    } else {
        float dpi = static_cast<float>(200 + 100 * (choice - NoChangeId - 1));
        SetXResolution(dpi);
        SetYResolution(dpi);
        SetResolutionChangeRequested(true);
    }
    CheckRadioButton(BrowserState.page, NoChangeId, Dpi400Id, choice);
}

// The highest page a range edit may hold: the shown document's page count, at least 1.
int RangeMaximum()
{
    int pages = PagesOfItem(BrowserState.CurrentItem);
    return pages > 1 ? pages : 1;
}

unsigned EditNumber(int id)
{
    BOOL read = FALSE;
    unsigned value = GetDlgItemInt(BrowserState.page, id, &read, FALSE);
    return read ? value : 0;
}

bool WriteRecord(const StorageSettingsRecord& record)
{
    char path[MAX_PATH];
    if (!FormatRegKeyPath(path, StorageSettingsKeyPattern))
        return false;
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return true;
    RegSetValueExA(key, "SB Mode", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&record), sizeof record);
    RegCloseKey(key);
    return true;
}

// The saved password. A record that carries one was saved by an older copy of the source (this
// one leaves the field empty), later than any protected value: it stands, and goes protected at
// the next save. Otherwise the protected value, when this user can unprotect it.
void LoadSavedPassword(const StorageSettingsRecord& record)
{
    char inverted[sizeof record.password + 1];
    for (size_t i = 0; i < sizeof record.password; ++i)
        inverted[i] = static_cast<char>(~record.password[i]);
    inverted[sizeof record.password] = '\0';
    if (inverted[0]) {
        strncpy(LogonPassword, inverted, sizeof LogonPassword - 1);
        LogonPassword[sizeof LogonPassword - 1] = '\0';
    } else {
        ReadProtectedPassword(LogonPassword, sizeof LogonPassword);
    }
    SecureZeroMemory(inverted, sizeof inverted);
}

}  // namespace

int PageRangeChoice()
{
    for (int id = CurrentPageId; id <= PagesRangeId; ++id)
        if (BrowserState.page && IsDlgButtonChecked(BrowserState.page, id) == BST_CHECKED)
            return id;
    return CurrentPageId;
}

bool FixedSizeOn()
{
    HWND page = BrowserState.page;
    return page && IsDlgButtonChecked(page, FixedSizeOnId) == BST_CHECKED;
}

void FixedSizeDimensions(int& width, int& height)
{
    width = 0;
    height = 0;
    HWND page = BrowserState.page;
    if (!page)
        return;
    HWND list = GetDlgItem(page, PaperListId);
    LRESULT index = SendMessageA(list, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR)
        return;
    LRESULT id = SendMessageA(list, CB_GETITEMDATA, static_cast<WPARAM>(index), 0);
    if (id == CB_ERR || id <= 0)
        return;
    char entry[260];
    if (LoadResourceString(static_cast<UINT>(id), entry, sizeof entry) == 0)
        return;
    const char* widthField = strchr(entry, ',');
    if (!widthField)
        return;
    width = EntryNumber(widthField + 1);
    const char* heightField = strchr(widthField + 1, ',');
    if (heightField)
        height = EntryNumber(heightField + 1);
}

ConversionSettings TransferConversionSettings()
{
    ConversionSettings settings;
    settings.resolutionChange = GetResolutionChangeRequested();
    settings.targetXResolution = GetXResolution();
    settings.targetYResolution = GetYResolution();
    settings.pixelType = GetPixelType();
    settings.fixedSizeOn = FixedSizeOn();
    if (settings.fixedSizeOn)
        FixedSizeDimensions(settings.paperWidth, settings.paperHeight);
    return settings;
}

void FillPaperList()
{
    if (!BrowserState.page)
        return;
    HWND list = Control(PaperListId);
    SendMessageA(list, CB_RESETCONTENT, 0, 0);
    const PaperFamily& family = PaperFamilies[PaperSizeType == 1 ? 1 : 0];
    int width = 0, height = 0;
    for (int i = 0; i < PaperEntriesMax; ++i) {
        UINT id = family.firstEntry + i;
        char entry[260];
        if (LoadResourceString(id, entry, sizeof entry) == 0)
            break;
        char* comma = strchr(entry, ',');
        if (comma)
            *comma = '\0';
        LRESULT item = SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry));
        SendMessageA(list, CB_SETITEMDATA, item, id);
        if (comma) {
            width = EntryNumber(comma + 1);
            char* second = strchr(comma + 1, ',');
            if (second)
                height = EntryNumber(second + 1);
        }
        if (width <= 0 || height <= 0) {
            SendMessageA(list, CB_DELETESTRING, item, 0);
            break;
        }
    }
    char name[260];
    LoadResourceString(family.defaultName, name, sizeof name);
    LRESULT found = SendMessageA(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(name));
    char text[260] = "";
    if (found != CB_ERR)
        SendMessageA(list, CB_GETLBTEXT, found, reinterpret_cast<LPARAM>(text));
    // The list's search ignores letter case; the default paper's name must match exactly.
    if (found == CB_ERR || strcmp(text, name) != 0)
        found = 0;
    SendMessageA(list, CB_SETCURSEL, found, 0);
    DefaultPaperIndex = static_cast<int>(found);
}

void SetRangeEditsEnabled(bool on)
{
    const int ids[] = {FirstPageEditId, LastPageEditId, FirstPageUpDownId, LastPageUpDownId};
    for (int id : ids)
        EnableWindow(Control(id), on);
    if (!on) {
        SetDlgItemInt(BrowserState.page, FirstPageEditId, 1, FALSE);
        SetDlgItemInt(BrowserState.page, LastPageEditId, 1, FALSE);
    }
}

void LoadOptions()
{
    if (!BrowserState.page)
        return;
    StorageSettingsRecord record = DefaultRecord();
    ReadSavedRecord(record);
    HWND page = BrowserState.page;

    int resolution = record.resolutionChoice;
    ApplyResolution(resolution >= NoChangeId && resolution <= Dpi400Id ? resolution : NoChangeId);
    int pixelType = record.pixelTypeChoice == GrayScaleId ? GrayScaleId : BlackWhiteId;
    CheckRadioButton(page, BlackWhiteId, GrayScaleId, pixelType);
    SetPixelType(pixelType == GrayScaleId ? TWPT_GRAY : TWPT_BW);
    int range = record.pageRangeChoice >= CurrentPageId && record.pageRangeChoice <= PagesRangeId
                    ? record.pageRangeChoice
                    : CurrentPageId;
    CheckRadioButton(page, CurrentPageId, PagesRangeId, range);
    SetRangeEditsEnabled(range == PagesRangeId);

    // The record comes from outside: a column the list does not have sorts by the time.
    BrowserState.sortColumn = record.sortColumn >= 0 && record.sortColumn <= 2 ? record.sortColumn : 1;
    BrowserState.reverse = record.sortDescending != 0;

    CheckDlgButton(page, PreviewCheckId, record.previewOn ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(page, DeleteAfterId, record.deleteAfterDownload ? BST_CHECKED : BST_UNCHECKED);
    CheckRadioButton(page, FixedSizeOffId, FixedSizeOnId, record.fixedSizeOn == 1 ? FixedSizeOnId : FixedSizeOffId);
    // A paper the list does not hold would leave the fixed size at 0 x 0: the default paper instead.
    int papers = static_cast<int>(SendMessageA(Control(PaperListId), CB_GETCOUNT, 0, 0));
    int paper = record.fixedSizeChoice >= 0 && record.fixedSizeChoice < papers ? record.fixedSizeChoice
                                                                                : DefaultPaperIndex;
    SendMessageA(Control(PaperListId), CB_SETCURSEL, static_cast<WPARAM>(paper), 0);
    EnableWindow(Control(PaperListId), record.fixedSizeOn == 1);

    memcpy(SelectedUser, record.selectedUser, sizeof SelectedUser);
    SelectedUser[sizeof SelectedUser - 1] = '\0';
    LoadSavedPassword(record);
}

void SaveOptions()
{
    if (!BrowserState.page)
        return;
    HWND page = BrowserState.page;
    StorageSettingsRecord record{};
    if (!GetResolutionChangeRequested()) {
        record.resolutionChoice = NoChangeId;
    } else {
        float dpi = GetXResolution();
        record.resolutionChoice = dpi == 200.0f ? Dpi200Id : dpi == 300.0f ? Dpi300Id : Dpi400Id;
    }
    record.pageRangeChoice = PageRangeChoice();
    record.pixelTypeChoice = GetPixelType() == TWPT_GRAY ? GrayScaleId : BlackWhiteId;
    record.sortColumn = BrowserState.sortColumn;
    record.sortDescending = BrowserState.reverse ? 1 : 0;
    record.previewOn = IsDlgButtonChecked(page, PreviewCheckId) == BST_CHECKED;
    record.deleteAfterDownload = IsDlgButtonChecked(page, DeleteAfterId) == BST_CHECKED;
    record.fixedSizeOn = FixedSizeOn() ? 1 : 0;
    LRESULT paper = SendMessageA(Control(PaperListId), CB_GETCURSEL, 0, 0);
    record.fixedSizeChoice = paper == CB_ERR ? -1 : static_cast<int32_t>(paper);
    memcpy(record.selectedUser, SelectedUser, sizeof record.selectedUser);
    record.selectedUser[sizeof record.selectedUser - 1] = '\0';
    // The record keeps the empty password: the password itself goes protected beside it.
    memset(record.password, 0xFF, sizeof record.password);
    if (WriteRecord(record))
        WriteProtectedPassword(LogonPassword);
}

void RestoreDefaults()
{
    if (!BrowserState.page || !WriteRecord(DefaultRecord()))
        return;
    WriteProtectedPassword("");
    LoadOptions();
}

void ClampRangeEdit(int control)
{
    if (!BrowserState.page || (control != FirstPageEditId && control != LastPageEditId))
        return;
    unsigned max = static_cast<unsigned>(RangeMaximum());
    unsigned first = EditNumber(FirstPageEditId);
    unsigned last = EditNumber(LastPageEditId);
    unsigned value = control == FirstPageEditId ? first : last;
    value = value == 0 ? 1 : value > max ? max : value;
    SetDlgItemInt(BrowserState.page, control, value, FALSE);
    // The up-down control shows its position in its buddy edit.
    if (control == FirstPageEditId && last < value)
        SendMessageA(Control(LastPageUpDownId), UDM_SETPOS32, 0, static_cast<LPARAM>(value));
    else if (control == LastPageEditId && value < first)
        SendMessageA(Control(FirstPageUpDownId), UDM_SETPOS32, 0, static_cast<LPARAM>(value));
}

TransferRange RangeOfDocument(int page, int pages)
{
    switch (PageRangeChoice()) {
    case AllPagesId:
        return {1, pages, pages};
    case PagesRangeId: {
        auto inside = [pages](int value) { return value < 2 ? 1 : value >= pages ? pages : value; };
        int from = inside(static_cast<int>(EditNumber(FirstPageEditId)));
        int to = inside(static_cast<int>(EditNumber(LastPageEditId)));
        int first = from < to ? from : to;
        int last = from < to ? to : from;
        return {first, last, last - first + 1};
    }
    default:
        // A document without that page has nothing to send.
        if (page > pages)
            return {page, page, 0};
        return {page, page, 1};
    }
}

int ComputeTransferRange(int page, int pages)
{
    TransferRange range = RangeOfDocument(page, pages);
    SetRangePageCount(range.count);
    SetRangeLastPage(range.last);
    return range.first;
}
