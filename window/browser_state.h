// The storage browser page's state and the rows of its document list: what a row stands for in
// the storage tables. The page, the options panel, the preview and the download chain all read
// it; it shows nothing and knows none of them.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

constexpr int FolderTreeId = 1000;
constexpr int DocumentListId = 1001;
constexpr int SelectUserId = 1002;
constexpr int DownloadId = 1007;
constexpr int RefreshId = 1009;
constexpr int PageNumberEditId = 1012;
constexpr int PageCountLabelId = 1010;
constexpr int PageSizeLabelId = 1011;
constexpr int NextPageId = 1016;
constexpr int PreviousPageId = 1017;
constexpr int SaveId = 1031;
constexpr int DefaultId = 1032;
constexpr int SelectDeviceId = 1037;
constexpr int DeleteCommandId = 40004;

struct BrowserPageState {
    HWND page = nullptr;
    bool ready = false;    // until the page's initialisation has run, commands are ignored
    int CurrentItem = -1;  // the document list item shown or being sent, -1 for none
    bool navigating = false;  // a navigation key in the list, consumed by the next item change
    int sortColumn = 1;
    bool reverse = false;
    HIMAGELIST images = nullptr;
    int folderImage = 0;
    int openFolderImage = 1;
    int documentImage = 2;
    int deviceImage = 3;
};

extern BrowserPageState BrowserState;

// The page's control of that id; none while the page does not exist.
HWND PageControl(int id);
// The selected row after the given one (-1: the first), -1 when none follows.
int NextSelectedItem(int after);
int SelectedItemCount();
// A row's text in a column, its image, and its key (a document's or a folder's id). The list's
// handle is handed in: every look-up by id walks the page's children, which over thousands of
// rows costs more than the rows themselves.
std::string ItemText(HWND list, int item, int column);
int ItemImage(HWND list, int item);
bool ItemKey(HWND list, int item, LPARAM& key);

bool IsFolderType(const char* documentType);
// Index into DocumentTable of the list item's record, -1 when none.
int RecordOfItem(int item);
// The item's "Pages" column as a number; 0 for folders and for no item.
int PagesOfItem(int item);
// Index into FolderTable of the folder of the item's record, -1 when none.
int FolderOfItem(int item);
// Deletes the document of CurrentItem on the device without asking: 1 when it was deleted, 0
// for a folder, no document, or a failed request (which has told the user).
int DeleteCurrentDocument();
