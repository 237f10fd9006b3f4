#include "window/browser_state.h"

#include <cstdlib>
#include <cstring>

#include "device/storage_commands.h"
#include "device/storage_tables.h"

BrowserPageState BrowserState;

namespace {

constexpr int TextSize = 260;

HWND List() { return PageControl(DocumentListId); }

}  // namespace

HWND PageControl(int id) { return BrowserState.page ? GetDlgItem(BrowserState.page, id) : nullptr; }

int NextSelectedItem(int after)
{
    HWND list = List();
    if (!list)
        return -1;
    return static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(after), LVNI_SELECTED));
}

int SelectedItemCount()
{
    HWND list = List();
    return list ? static_cast<int>(SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0)) : 0;
}

std::string ItemText(HWND list, int item, int column)
{
    char text[TextSize] = "";
    LVITEMA request{};
    request.iSubItem = column;
    request.pszText = text;
    request.cchTextMax = sizeof text;
    SendMessageA(list, LVM_GETITEMTEXTA, item, reinterpret_cast<LPARAM>(&request));
    return text;
}

int ItemImage(HWND list, int item)
{
    LVITEMA request{};
    request.mask = LVIF_IMAGE;
    request.iItem = item;
    if (!SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&request)))
        return -1;
    return request.iImage;
}

bool ItemKey(HWND list, int item, LPARAM& key)
{
    LVITEMA request{};
    request.mask = LVIF_PARAM;
    request.iItem = item;
    if (item < 0 || !SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&request)))
        return false;
    key = request.lParam;
    return true;
}

bool IsFolderType(const char* documentType) { return strstr(documentType, "FOLDER") != nullptr; }

int RecordOfItem(int item)
{
    LPARAM key;
    if (item < 0 || !BrowserState.page || !ItemKey(List(), item, key))
        return -1;
    for (int i = 0; i < DocumentCount && i < DocumentTableSize; ++i)
        if (static_cast<LPARAM>(DocumentTable[i].documentId) == key ||
            static_cast<LPARAM>(DocumentTable[i].folderId) == key)
            return i;
    return -1;
}

int PagesOfItem(int item)
{
    HWND list = List();
    if (item < 0 || !BrowserState.page || item >= SendMessageA(list, LVM_GETITEMCOUNT, 0, 0))
        return 0;
    return atoi(ItemText(list, item, 2).c_str());
}

int FolderOfItem(int item)
{
    int record = RecordOfItem(item);
    if (record < 0)
        return -1;
    for (int i = 0; i < FolderCount && i < FolderTableSize; ++i)
        if (FolderTable[i].folderId == DocumentTable[record].folderId)
            return i;
    return -1;
}

int DeleteCurrentDocument()
{
    int record = RecordOfItem(BrowserState.CurrentItem);
    if (record < 0 || IsFolderType(DocumentTable[record].documentType))
        return 0;
    if (DeleteDocument(DocumentTable[record].documentId) != 1)
        return 0;
    CurrentDocumentPath[0] = '\0';
    return 1;
}
