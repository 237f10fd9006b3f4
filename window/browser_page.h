// The storage browser page: its state, and the functions the storage commands use to keep the
// page in step with the tables. Each of them does nothing while the page does not exist.
#pragma once

#include <windows.h>
#include <commctrl.h>

constexpr int FolderTreeId = 1000;
constexpr int DocumentListId = 1001;

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

// CurrentItem becomes -1 and no row of the document list stays selected.
void DeselectAllDocuments();
// Deletes every item of the folder tree.
void DeleteAllFolderItems();
// One top-level tree item per FolderTable record, in table order; each record keeps its item.
// The tree gets the keyboard focus.
void FillFolderTree();
