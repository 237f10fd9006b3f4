// The storage browser page: the device's folders as a tree, the chosen folder's documents as a
// list, the transfer options and the preview. The storage commands keep the page in step with
// the tables through the functions below; each does nothing while the page does not exist.
#pragma once

#include <windows.h>
#include <commctrl.h>

constexpr int BrowserPageTemplate = 10023;
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

INT_PTR CALLBACK BrowserPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// CurrentItem becomes -1 and no row of the document list stays selected.
void DeselectAllDocuments();
// Deletes every item of the folder tree.
void DeleteAllFolderItems();
// One top-level tree item per FolderTable record, in table order; each record keeps its item.
// The tree gets the keyboard focus.
void FillFolderTree();

// Lists the folder selected in the tree again.
void RefreshDocuments();
// Forgets the shown document: no file, grey pane, page edits 1, empty labels.
void ResetDocumentView();
// Index into DocumentTable of the list item's record, -1 when none.
int RecordOfItem(int item);
// The item's "Pages" column as a number; 0 for folders and for no item.
int PagesOfItem(int item);
// Index into FolderTable of the folder of the item's record, -1 when none.
int FolderOfItem(int item);
// The delete command on the list's selection, with its questions.
void DeleteSelected();
// 1 when the document of CurrentItem was deleted; asks first when ask is set.
int DeleteCurrentDocument(bool ask);
