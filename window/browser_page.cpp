#include "window/browser_page.h"

#include "device/storage_tables.h"

BrowserPageState BrowserState;

namespace {

HWND PageControl(int id) { return BrowserState.page ? GetDlgItem(BrowserState.page, id) : nullptr; }

}  // namespace

void DeselectAllDocuments()
{
    if (!BrowserState.page)
        return;
    BrowserState.CurrentItem = -1;
    HWND list = PageControl(DocumentListId);
    if (!list)
        return;
    LVITEMA item{};
    item.stateMask = LVIS_SELECTED;
    item.state = 0;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
}

void DeleteAllFolderItems()
{
    HWND tree = PageControl(FolderTreeId);
    if (tree)
        SendMessageA(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
}

void FillFolderTree()
{
    HWND tree = PageControl(FolderTreeId);
    if (!tree)
        return;
    SendMessageA(tree, WM_SETREDRAW, FALSE, 0);
    for (int i = 0; i < FolderCount && i < FolderTableSize; ++i) {
        TVINSERTSTRUCTA insert{};
        insert.hParent = TVI_ROOT;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_CHILDREN;
        insert.item.pszText = FolderTable[i].folderName;
        insert.item.iImage = BrowserState.folderImage;
        insert.item.iSelectedImage = BrowserState.openFolderImage;
        insert.item.cChildren = 0;
        FolderTable[i].treeItem = reinterpret_cast<HTREEITEM>(
            SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
    }
    SetFocus(tree);
    SendMessageA(tree, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(tree, nullptr, TRUE);
}
