// One user's session with the device's storage: the logon (the user list, the user's handle, the
// folder list that proves the password), folders found by name, listings, deletions and fetches.
// Each step that fails says why on standard error or hands the reason back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/storage_protocol.h"
#include "tools/qrvbox/settings.h"

struct Failure {
    std::string text;
    bool lost = false;       // the device is out of reach (or the user interrupted): a run stops
    int32_t deviceCode = 0;  // the device's result code when it refused
};

class StorageSession {
public:
    explicit StorageSession(const Settings& settings) : settings_(settings) {}

    // The users registered on the device.
    bool Users(std::vector<UserEntry>& users);
    // Finds the user's handle and lists the user's folders, asking for the password on the
    // terminal when the device refuses the logon without one.
    bool LogOn();
    const std::vector<FolderEntry>& Folders() const { return folders_; }
    // A top-level folder by its name, or a sub-folder as "Folder/Sub".
    bool FindFolder(const std::string& path, uint32_t& folderId);
    // The records of a folder's listing (sub-folders and documents, as the device sends them).
    bool ListFolder(uint32_t folderId, std::vector<DocumentEntry>& records);
    bool Delete(uint32_t documentId, Failure& failure);
    // Fetches the document's file into localPath (nothing is left there on failure).
    bool Fetch(const DocumentEntry& document, const std::string& localPath, Failure& failure);

    std::string DeviceText() const;

private:
    bool Run(StorageCommand command, const StorageRequest& request, const LinkTimeouts& timeouts,
             StorageAnswer& answer, Failure& failure);
    bool ListFolders(Failure& failure);

    Settings settings_;
    int32_t userHandle_ = 0;
    std::string password_;
    std::vector<FolderEntry> folders_;
};

// Whether a record stands for a sub-folder ("FOLDER"), is passed over (a type that merely holds
// "FOLDER"), or is a document, as the source's document list tells them apart.
enum class RecordKind { Folder, Hidden, Document };
RecordKind KindOf(const DocumentEntry& record);
