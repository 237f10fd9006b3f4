// The five requests to the device's document storage. Each runs to completion on the calling
// thread, fills its own table, and reports failures through the pending message; a command
// that returns 0 has already told the user what the user must hear. What a result does to a
// window is its caller's business.
#pragma once

#include <cstdint>

#include "device/storage_tables.h"

// Element names handed to the protocol library; a tag is an index into this list. Requests
// and answers use "STRAGE" (23), never "STORAGE" (47).
extern const char* const TagTable[49];

enum StorageTag {
    TagJob = 0,
    TagCommand = 1,
    TagType = 2,
    TagParam = 3,
    TagCode = 4,
    TagFolderId = 6,
    TagPassword = 7,
    TagFolderName = 8,
    TagTimestamp = 11,
    TagPages = 12,
    TagDocumentId = 13,
    TagUserId = 14,
    TagStatus = 15,
    TagImagePath = 16,
    TagSubject = 17,
    TagUserHandle = 18,
    TagOwner = 20,
    TagDocType = 21,
    TagServer = 22,
    TagStrage = 23,
    TagUserName = 40,
    TagUser = 41,
};

// 1 when at least one user record arrived. Also sets UserHandle from SelectedUser.
int GetUserIds();
// 1 when at least one folder record arrived.
int ListFolders();
// 1 when at least one document record of FolderTable[folderIndex] arrived.
int ListDocuments(int folderIndex);
// 1 when the device answered 600.
int DeleteDocument(uint32_t documentId);
// 1 when the document's file is available at CurrentDocumentPath.
int DownloadDocument(DocumentRecord record);
// Frees the protocol library that the commands keep loaded from their first request on;
// called when the source unloads.
void ReleaseStorageLibrary();
// The user handle of the first UserTable entry whose user id matches the beginning of text
// over at most three bytes; 0 when none matches.
int32_t FindUserHandle(const char* text);
