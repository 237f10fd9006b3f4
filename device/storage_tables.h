// The records and fixed tables the storage commands fill, and the logon state they use.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>

constexpr int FolderTableSize = 100;
constexpr int DocumentTableSize = 10005;
constexpr int UserTableSize = 100;

// Text fields hold one character less than their size and are always zero-terminated.
struct FolderRecord {
    HTREEITEM treeItem;  // the folder's item in the browser page's tree, set when the tree is filled
    uint32_t folderId;
    char folderName[41];
};

struct DocumentRecord {
    uint32_t documentId;
    uint32_t folderId;
    char folderName[41];
    char timestamp[20];
    int32_t owner;
    int32_t pages;
    char documentType[14];
    char status[11];
    char imagePath[41];  // the device path of the document's TIFF file
    char subject[41];
};

struct UserRecord {
    int32_t userHandle;
    char userId[4];
    char userName[31];
};

// Each count is -1 while no list has been received.
extern FolderRecord FolderTable[FolderTableSize];
extern int FolderCount;
extern DocumentRecord DocumentTable[DocumentTableSize];
extern int DocumentCount;
extern UserRecord UserTable[UserTableSize];
extern int UserCount;

// The logon: the user handle of the logged-on user (0: nobody), the password, and the user
// entry that was picked, "%s:%s" of a user id and a user name.
extern int32_t UserHandle;
extern char LogonPassword[21];
extern char SelectedUser[35];

// Full path of the document file most recently made available; emptied with every new work
// directory.
extern char CurrentDocumentPath[MAX_PATH];
