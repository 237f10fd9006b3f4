#include "window/browser_page.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "device/config_store.h"
#include "device/device_dialogs.h"
#include "device/logon_dialog.h"
#include "device/storage_commands.h"
#include "device/storage_tables.h"
#include "device/window_routines.h"
#include "source/capability_store.h"
#include "source/manager_notifications.h"
#include "source/source_state.h"
#include "window/browser_state.h"
#include "window/download_chain.h"
#include "window/options_panel.h"
#include "window/preview_pane.h"

namespace {

constexpr UINT SubjectColumnString = 32;
constexpr UINT TimeColumnString = 33;
constexpr UINT PagesColumnString = 34;
constexpr UINT DeleteMenuString = 65;
constexpr UINT DeleteOneQuestion = 112;
constexpr UINT DeleteManyQuestion = 113;
constexpr int ClosedFolderIcon = 10018;
constexpr int OpenFolderIcon = 10019;
constexpr int DocumentIcon = 10017;
constexpr int DeviceIcon = 10016;
constexpr int PreviousIcon = 10020;
constexpr int NextIcon = 10021;
constexpr int TextSize = 260;

HWND List() { return PageControl(DocumentListId); }
HWND Tree() { return PageControl(FolderTreeId); }

const ControlText BrowserPageTexts[] = {
    {1058, 20201}, {1024, 20202}, {1025, 20203}, {1026, 20204}, {1027, 20205}, {1059, 20206},
    {1019, 20207}, {1020, 20208}, {1021, 20209}, {1060, 20212}, {1013, 20213}, {1014, 20214},
    {1061, 20215}, {1046, 20216}, {1062, 20217}, {1004, 20218}, {1005, 20219}, {1015, 20220},
    {1007, 20221}, {1037, 20222}, {1002, 20223}, {1009, 20224}, {1030, 20225}, {1031, 20226},
    {1032, 20227}, {2, 20228},     {-1, 0},
};

// ---- the document list

void ResetDocumentColumns()
{
    HWND list = List();
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    while (SendMessageA(list, LVM_DELETECOLUMN, 0, 0))
        ;
    RECT frame;
    GetWindowRect(list, &frame);
    int width = frame.right - frame.left;
    BrowserState.sortColumn = 1;
    BrowserState.reverse = false;
    AddListColumn(list, 0, SubjectColumnString, width * 22 / 50, LVCFMT_LEFT);
    AddListColumn(list, 1, TimeColumnString, width * 18 / 50, LVCFMT_LEFT);
    AddListColumn(list, 2, PagesColumnString, width * 7 / 50, LVCFMT_RIGHT);
}

void AppendItem(HWND list, char* text, int image, uint32_t key, char* timestamp, const char* pages)
{
    LVITEMA item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    item.pszText = text;
    item.iImage = image;
    item.lParam = static_cast<LPARAM>(key);
    int row = static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    if (row < 0)
        return;
    LVITEMA sub{};
    sub.iSubItem = 1;
    sub.pszText = timestamp;
    SendMessageA(list, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&sub));
    sub.iSubItem = 2;
    sub.pszText = const_cast<char*>(pages);
    SendMessageA(list, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&sub));
}

// The folder's item under parent, last among its children; the record keeps the item.
void InsertFolderItem(HWND tree, HTREEITEM parent, FolderRecord& folder)
{
    TVINSERTSTRUCTA insert{};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_CHILDREN;
    insert.item.pszText = folder.folderName;
    insert.item.iImage = BrowserState.folderImage;
    insert.item.iSelectedImage = BrowserState.openFolderImage;
    insert.item.cChildren = 0;
    folder.treeItem =
        reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
}

// A folder record of a listing becomes a sub-folder of the selected folder in the tree, once.
void AddSubfolder(const DocumentRecord& record)
{
    int found = -1;
    for (int i = 0; i < FolderCount && i < FolderTableSize; ++i)
        if (FolderTable[i].folderId == record.folderId) {
            found = i;
            break;
        }
    if (found >= 0 && FolderTable[found].treeItem)
        return;
    if (found < 0) {
        if (FolderCount < 0 || FolderCount >= FolderTableSize)
            return;
        found = FolderCount++;
        FolderTable[found] = FolderRecord{};
        FolderTable[found].folderId = record.folderId;
        memcpy(FolderTable[found].folderName, record.folderName, sizeof FolderTable[found].folderName);
        FolderTable[found].folderName[sizeof FolderTable[found].folderName - 1] = '\0';
    }
    HWND tree = Tree();
    HTREEITEM parent = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    TVITEMA mark{};
    mark.mask = TVIF_CHILDREN;
    mark.hItem = parent;
    mark.cChildren = 1;
    SendMessageA(tree, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&mark));
    InsertFolderItem(tree, parent, FolderTable[found]);
    SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(parent));
}

void FillDocumentList()
{
    HWND list = List();
    // Room for every row at once rather than a little more at each insertion.
    SendMessageA(list, LVM_SETITEMCOUNT, static_cast<WPARAM>(DocumentCount), 0);
    for (int i = 0; i < DocumentCount && i < DocumentTableSize; ++i) {
        DocumentRecord& record = DocumentTable[i];
        if (strcmp(record.documentType, "FOLDER") == 0) {
            AddSubfolder(record);
            AppendItem(list, record.folderName, BrowserState.folderImage, record.folderId, record.timestamp, "");
        } else if (!IsFolderType(record.documentType)) {
            char pages[16];
            snprintf(pages, sizeof pages, "%d", static_cast<int>(record.pages));
            AppendItem(list, record.subject, BrowserState.documentImage, record.documentId, record.timestamp, pages);
        }
    }
}

// ---- sorting

// What the comparators look at, taken from the list before it is sorted: comparing by the
// list's own messages while it reorders its items would read items in motion. A text column is
// compared through its sort key: keys made once per item compare byte by byte as lstrcmpiA
// compares the texts, at a fraction of the cost of a locale comparison for each of the sort's
// hundred thousand pairs.
struct SortEntry {
    int image;
    int number;  // the "Pages" column
    std::string text;
    std::string collation;  // empty when the key could not be made
};
std::unordered_map<LPARAM, SortEntry> SortEntries;

std::string CollationKey(const std::string& text)
{
    const LCID locale = GetThreadLocale();
    const DWORD flags = LCMAP_SORTKEY | NORM_IGNORECASE;
    char key[1024];
    int size = LCMapStringA(locale, flags, text.c_str(), -1, key, sizeof key);
    if (size > 0)
        return std::string(key, static_cast<size_t>(size));
    size = LCMapStringA(locale, flags, text.c_str(), -1, nullptr, 0);
    if (size <= 0)
        return {};
    std::string large(static_cast<size_t>(size), '\0');
    size = LCMapStringA(locale, flags, text.c_str(), -1, large.data(), size);
    large.resize(size > 0 ? static_cast<size_t>(size) : 0);
    return large;
}

// lstrcmpiA's order of the two texts.
int CompareTexts(const SortEntry& a, const SortEntry& b)
{
    if (a.collation.empty() || b.collation.empty())
        return lstrcmpiA(a.text.c_str(), b.text.c_str());
    int order = a.collation.compare(b.collation);
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

int CALLBACK CompareItems(LPARAM key1, LPARAM key2, LPARAM column)
{
    auto first = SortEntries.find(key1);
    auto second = SortEntries.find(key2);
    if (first == SortEntries.end() || second == SortEntries.end())
        return 0;
    const SortEntry& a = first->second;
    const SortEntry& b = second->second;
    int result;
    if (a.image != b.image)
        result = a.image - b.image;
    else if (column == 2)
        result = b.number - a.number;
    else
        result = -CompareTexts(a, b);
    if (result == 0)
        result = key1 < key2 ? -1 : key1 > key2 ? 1 : 0;
    return result;
}

int CALLBACK CompareItemsReversed(LPARAM key1, LPARAM key2, LPARAM column)
{
    return CompareItems(key2, key1, column);
}

void SortDocuments()
{
    HWND list = List();
    int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    int column = BrowserState.sortColumn;
    SortEntries.clear();
    SortEntries.reserve(static_cast<size_t>(count > 0 ? count : 0));
    for (int item = 0; item < count; ++item) {
        LPARAM key;
        // The first item of a key stands for every item of that key, as a search by key finds.
        if (!ItemKey(list, item, key) || SortEntries.count(key))
            continue;
        SortEntry entry{ItemImage(list, item), 0, ItemText(list, item, column), {}};
        if (column == 2)
            entry.number = atoi(entry.text.c_str());
        else
            entry.collation = CollationKey(entry.text);
        SortEntries.emplace(key, std::move(entry));
    }
    SendMessageA(list, LVM_SORTITEMS, static_cast<WPARAM>(column),
                 reinterpret_cast<LPARAM>(BrowserState.reverse ? CompareItemsReversed : CompareItems));
    SortEntries.clear();
}

void OnColumnClick(int column)
{
    BrowserState.reverse = column == BrowserState.sortColumn ? !BrowserState.reverse : false;
    BrowserState.sortColumn = column;
    SortDocuments();
    EnableWindow(PageControl(SaveId), TRUE);
}

// Lists the folder selected in the tree again.
void RefreshDocuments()
{
    HWND list = List();
    if (!list)
        return;
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    ResetDocumentView();
    DocumentCount = -1;
    HTREEITEM selected = reinterpret_cast<HTREEITEM>(SendMessageA(Tree(), TVM_GETNEXTITEM, TVGN_CARET, 0));
    int folder = -1;
    for (int i = 0; selected && i < FolderCount && i < FolderTableSize; ++i)
        if (FolderTable[i].treeItem == selected) {
            folder = i;
            break;
        }
    if (folder >= 0 && ListDocuments(folder) == 1)
        FillDocumentList();
    SortDocuments();
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

// ---- questions and deletion

bool Ask(const char* text)
{
    char caption[MAX_PATH];
    ReadDriverName(caption, sizeof caption);
    return MessageBoxA(SourceWindow, text, caption, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

bool AskDeleteOne(const DocumentRecord& record)
{
    char format[TextSize], text[TextSize + sizeof record.subject];
    LoadResourceString(DeleteOneQuestion, format, sizeof format);
    snprintf(text, sizeof text, format, record.subject);
    return Ask(text);
}

bool AskDeleteMany(int count)
{
    char format[TextSize], text[TextSize + 16];
    LoadResourceString(DeleteManyQuestion, format, sizeof format);
    snprintf(text, sizeof text, format, count);
    return Ask(text);
}

// Counts the selected items from first until one has no record; -1 when a folder is among them.
int CountSelectedDocuments(int first)
{
    int count = 0;
    for (int item = first; item >= 0; item = NextSelectedItem(item)) {
        int record = RecordOfItem(item);
        if (record < 0)
            break;
        if (IsFolderType(DocumentTable[record].documentType))
            return -1;
        ++count;
    }
    return count;
}

void DeleteOneAsking()
{
    while (BrowserState.CurrentItem >= 0) {
        int record = RecordOfItem(BrowserState.CurrentItem);
        if (record < 0)
            return;
        if (AskDeleteOne(DocumentTable[record]) && DeleteDocument(DocumentTable[record].documentId) == 1) {
            CurrentDocumentPath[0] = '\0';
            RefreshDocuments();
            return;
        }
        BrowserState.CurrentItem = NextSelectedItem(BrowserState.CurrentItem);
    }
}

void DeleteManyAsking(int first, int count)
{
    if (!AskDeleteMany(count))
        return;
    for (int item = first; item >= 0; item = NextSelectedItem(item)) {
        BrowserState.CurrentItem = item;
        DeleteCurrentDocument();
    }
    RefreshDocuments();
}

// The delete command on the list's selection, with its questions.
void DeleteSelected()
{
    if (!BrowserState.page)
        return;
    int first = NextSelectedItem(-1);
    BrowserState.CurrentItem = first;
    if (first < 0)
        return;
    int count = CountSelectedDocuments(first);
    if (count == 1)
        DeleteOneAsking();
    else if (count > 1)
        DeleteManyAsking(first, count);
}

void ShowContextMenu()
{
    HMENU menu = CreatePopupMenu();
    if (!menu)
        return;
    char text[TextSize];
    LoadResourceString(DeleteMenuString, text, sizeof text);
    int first = NextSelectedItem(-1);
    bool folder = first >= 0 && CountSelectedDocuments(first) < 0;
    AppendMenuA(menu, MF_STRING | (folder ? MF_GRAYED : 0), DeleteCommandId, text);
    POINT at;
    GetCursorPos(&at);
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, BrowserState.page, nullptr);
    DestroyMenu(menu);
}

// ---- connecting, the user and the device

// The tree selects its first folder when it gets the focus with nothing selected; a tree that
// already had the focus is told so here.
void SelectFirstFolderIfNone()
{
    HWND tree = Tree();
    if (SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0))
        return;
    LPARAM first = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
    if (first)
        SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, first);
}

void DeleteAllFolderItems()
{
    HWND tree = Tree();
    if (tree)
        SendMessageA(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
}

// One top-level tree item per FolderTable record, in table order; each record keeps its item.
// The tree gets the keyboard focus.
void FillFolderTree()
{
    HWND tree = Tree();
    if (!tree)
        return;
    SendMessageA(tree, WM_SETREDRAW, FALSE, 0);
    for (int i = 0; i < FolderCount && i < FolderTableSize; ++i)
        InsertFolderItem(tree, TVI_ROOT, FolderTable[i]);
    SetFocus(tree);
    SendMessageA(tree, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(tree, nullptr, TRUE);
}

// The folder tree listed anew: its items go first, since the listing refills the table they
// belong to; a failed listing leaves the tree empty.
bool ListFoldersAfterLogon()
{
    DeleteAllFolderItems();
    if (!ListFolders())
        return false;
    FillFolderTree();
    SelectFirstFolderIfNone();
    return true;
}

// The logon dialog; an entry confirmed there is a change the options can save.
bool AskLogon(HWND owner)
{
    if (RunLogonDialog(owner) != IDOK)
        return false;
    EnableWindow(PageControl(SaveId), TRUE);
    return true;
}

bool ConnectStorage()
{
    while (!GetUserIds())
        if (RunSettingsDialog(nullptr) != IDOK)
            return false;
    while (!ListFoldersAfterLogon())
        if (!AskLogon(nullptr))
            return false;
    return true;
}

void SelectUser()
{
    char user[sizeof SelectedUser], password[sizeof LogonPassword];
    memcpy(user, SelectedUser, sizeof user);
    memcpy(password, LogonPassword, sizeof password);
    if (!AskLogon(BrowserState.page))
        return;
    while (!ListFoldersAfterLogon()) {
        if (!AskLogon(BrowserState.page)) {
            memcpy(SelectedUser, user, sizeof user);
            memcpy(LogonPassword, password, sizeof password);
            // The handle follows the restored user, so that the listing below names the user
            // whose password it carries.
            UserHandle = FindUserHandle(SelectedUser);
            ListFoldersAfterLogon();
            return;
        }
    }
}

void SelectDevice()
{
    if (RunSettingsDialog(BrowserState.page) != IDOK)
        return;
    LoadOptions();
    SelectedUser[0] = '\0';
    LogonPassword[0] = '\0';
    SaveOptions();
    if (!CreateWorkDirectory()) {
        NotifyCloseDsReq();
        return;
    }
    ResetDocumentColumns();
    LoadOptions();
    if (!ConnectStorage()) {
        NotifyCloseDsReq();
        return;
    }
    RefreshDocuments();
    SetFocus(PageControl(DownloadId));
}

// ---- the options panel's enabling rules and the saved options

void EnableSave() { EnableWindow(PageControl(SaveId), TRUE); }

void OnResolution(int id)
{
    if (id == NoChangeId) {
        SetResolutionChangeRequested(false);
    } else {
        float dpi = static_cast<float>(200 + 100 * (id - NoChangeId - 1));
        SetXResolution(dpi);
        SetYResolution(dpi);
        SetResolutionChangeRequested(true);
    }
    EnableSave();
}

void OnDefaults()
{
    ClearPreview();
    RestoreDefaults();
    SortDocuments();
    MoveDefaultButton(PageControl(SaveId), PageControl(DownloadId));
    while (AskLogon(BrowserState.page))
        if (ListFoldersAfterLogon())
            return;
    NotifyCloseDsReq();
}

void OnPreviewClicked()
{
    EnableSave();
    if (SendMessageA(List(), LVM_GETSELECTEDCOUNT, 0, 0) != 1)
        return;
    if (IsDlgButtonChecked(BrowserState.page, PreviewCheckId) == BST_CHECKED) {
        BrowserState.CurrentItem = NextSelectedItem(-1);
        ShowDocument(BrowserState.CurrentItem, ReadPageNumber());
    } else {
        ClearPreview();
    }
}

void OnSave()
{
    SaveOptions();
    MoveDefaultButton(PageControl(SaveId), PageControl(DownloadId));
    EnableWindow(PageControl(SaveId), FALSE);
}

// ---- messages

HIMAGELIST CreatePageImages()
{
    HIMAGELIST images = ImageList_Create(16, 16, ILC_COLOR8 | ILC_MASK, 4, 1);
    const int icons[] = {ClosedFolderIcon, OpenFolderIcon, DocumentIcon, DeviceIcon};
    for (int id : icons) {
        HICON icon = static_cast<HICON>(LoadImageA(OwnModule, MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, 0));
        ImageList_AddIcon(images, icon);
        if (icon)
            DestroyIcon(icon);
    }
    return images;
}

void SetButtonIcon(int button, int icon)
{
    HANDLE image = LoadImageA(OwnModule, MAKEINTRESOURCEA(icon), IMAGE_ICON, 16, 16, LR_SHARED);
    SendMessageA(PageControl(button), BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(image));
}

bool InitialisePage(HWND page)
{
    BrowserState.page = page;
    BrowserState.CurrentItem = -1;
    ApplyControlTexts(page, BrowserPageTexts);
    if (!CreatePreviewSurface())
        return false;
    ResetDocumentColumns();
    BrowserState.images = CreatePageImages();
    SendMessageA(List(), LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(BrowserState.images));
    SendMessageA(Tree(), TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(BrowserState.images));
    SetDlgItemInt(page, PageNumberEditId, 1, FALSE);
    SetButtonIcon(NextPageId, NextIcon);
    SetButtonIcon(PreviousPageId, PreviousIcon);
    SetDlgItemInt(page, FirstPageEditId, 1, FALSE);
    SetDlgItemInt(page, LastPageEditId, 1, FALSE);
    SetDlgItemTextA(page, PageCountLabelId, "");
    SetDlgItemTextA(page, PageSizeLabelId, "");
    FillPaperList();
    RestrictEdit(PageControl(FirstPageEditId), nullptr);
    RestrictEdit(PageControl(LastPageEditId), nullptr);
    RestrictEdit(PageControl(PageNumberEditId), nullptr);
    LoadOptions();
    EnableWindow(PageControl(SaveId), FALSE);
    if (!ConnectStorage())
        return false;
    RefreshDocuments();
    SetFocus(PageControl(DownloadId));
    return true;
}

BOOL OnInitDialog(HWND page)
{
    if (!InitialisePage(page))
        NotifyCloseDsReq();
    BrowserState.ready = true;
    return TRUE;
}

void OnCommand(WPARAM wParam)
{
    int id = LOWORD(wParam);
    int code = HIWORD(wParam);
    switch (id) {
    case IDCANCEL:
        NotifyCloseDsReq();
        break;
    case RefreshId:
        RefreshDocuments();
        break;
    case DownloadId:
        StartDownload();
        break;
    case SelectUserId:
        SelectUser();
        break;
    case SelectDeviceId:
        SelectDevice();
        break;
    case DeleteCommandId:
        DeleteSelected();
        break;
    case SaveId:
        OnSave();
        break;
    case NoChangeId:
    case NoChangeId + 1:
    case NoChangeId + 2:
    case Dpi400Id:
        OnResolution(id);
        break;
    case CurrentPageId:
    case AllPagesId:
    case PagesRangeId:
        SetRangeEditsEnabled(IsDlgButtonChecked(BrowserState.page, PagesRangeId) == BST_CHECKED);
        EnableSave();
        break;
    case BlackWhiteId:
    case GrayScaleId:
        SetPixelType(id == GrayScaleId ? TWPT_GRAY : TWPT_BW);
        EnableSave();
        break;
    case DeleteAfterId:
        EnableSave();
        break;
    case FixedSizeOffId:
    case FixedSizeOnId:
        EnableWindow(PageControl(PaperListId), FixedSizeOn());
        EnableSave();
        break;
    case PaperListId:
        if (code == CBN_SELCHANGE)
            EnableSave();
        break;
    case FirstPageEditId:
    case LastPageEditId:
        if (code == EN_KILLFOCUS)
            ClampRangeEdit(id);
        break;
    case DefaultId:
        OnDefaults();
        break;
    case PageNumberEditId:
        if (code == EN_CHANGE)
            StepPage(0);
        else if (code == EN_KILLFOCUS)
            ClampPageNumber();
        break;
    case NextPageId:
        StepPage(1);
        break;
    case PreviousPageId:
        StepPage(-1);
        break;
    case PreviewCheckId:
        if (code == BN_CLICKED)
            OnPreviewClicked();
        break;
    }
}

bool CursorOverItem()
{
    POINT at;
    GetCursorPos(&at);
    ScreenToClient(List(), &at);
    LVHITTESTINFO hit{};
    hit.pt = at;
    return SendMessageA(List(), LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)) >= 0;
}

void OnListClick()
{
    HWND list = List();
    if (SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0) != 1) {
        ResetDocumentView();
        return;
    }
    int item = NextSelectedItem(-1);
    if (item == BrowserState.CurrentItem)
        return;
    SetDlgItemInt(BrowserState.page, FirstPageEditId, 1, FALSE);
    SetDlgItemInt(BrowserState.page, LastPageEditId, 1, FALSE);
    if (item != static_cast<int>(SendMessageA(list, LVM_GETSELECTIONMARK, 0, 0)))
        return;
    if (ItemImage(list, item) == BrowserState.folderImage) {
        int folder = FolderOfItem(item);
        if (folder >= 0 && folder < FolderCount && FolderTable[folder].treeItem)
            SendMessageA(Tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(FolderTable[folder].treeItem));
        return;
    }
    CurrentDocumentPath[0] = '\0';
    BrowserState.CurrentItem = item;
    ShowDocument(item, 0);
}

void OnListKey(WORD key)
{
    switch (key) {
    case VK_PRIOR:
    case VK_NEXT:
    case VK_END:
    case VK_HOME:
    case VK_UP:
    case VK_DOWN:
        BrowserState.navigating = true;
        break;
    case VK_DELETE:
        DeleteSelected();
        break;
    }
}

void OnListNotify(const NMHDR* header)
{
    switch (header->code) {
    case NM_CLICK:
        OnListClick();
        break;
    case NM_RCLICK:
        if (CursorOverItem())
            ShowContextMenu();
        break;
    case NM_DBLCLK:
        if (CursorOverItem())
            StartDownload();
        break;
    case LVN_KEYDOWN:
        OnListKey(reinterpret_cast<const NMLVKEYDOWN*>(header)->wVKey);
        break;
    case LVN_ITEMCHANGED:
        if (BrowserState.navigating) {
            ResetDocumentView();
            BrowserState.navigating = false;
        }
        break;
    case LVN_COLUMNCLICK:
        OnColumnClick(reinterpret_cast<const NMLISTVIEW*>(header)->iSubItem);
        break;
    }
}

void OnTreeSelectionChanged(const NMTREEVIEWA* change)
{
    HWND tree = Tree();
    TVITEMA item{};
    item.mask = TVIF_STATE;
    item.stateMask = TVIS_SELECTED;
    if (change->itemOld.hItem) {
        item.hItem = change->itemOld.hItem;
        item.state = 0;
        SendMessageA(tree, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    }
    if (change->itemNew.hItem) {
        item.hItem = change->itemNew.hItem;
        item.state = TVIS_SELECTED;
        SendMessageA(tree, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    }
    RefreshDocuments();
}

void OnNotify(const NMHDR* header)
{
    if (header->idFrom == DocumentListId)
        OnListNotify(header);
    else if (header->idFrom == FolderTreeId && (header->code == TVN_SELCHANGEDA || header->code == TVN_SELCHANGEDW))
        OnTreeSelectionChanged(reinterpret_cast<const NMTREEVIEWA*>(header));
}

void OnDestroy()
{
    if (BrowserState.images) {
        ImageList_Destroy(BrowserState.images);
        BrowserState.images = nullptr;
    }
    CurrentDocumentPath[0] = '\0';
    ReleasePreviewSurface();
    BrowserState.page = nullptr;
    BrowserState.ready = false;
    BrowserState.CurrentItem = -1;
    BrowserState.navigating = false;
}

}  // namespace

INT_PTR CALLBACK BrowserPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(page);
    case WM_COMMAND:
        if (BrowserState.ready)
            OnCommand(wParam);
        return TRUE;
    case WM_NOTIFY:
        if (BrowserState.ready)
            OnNotify(reinterpret_cast<const NMHDR*>(lParam));
        return TRUE;
    case WM_DRAWITEM:
        if (wParam == PreviewPaneId)
            PaintPreview();
        return TRUE;
    case WM_DESTROY:
        OnDestroy();
        return TRUE;
    default:
        return FALSE;
    }
}

