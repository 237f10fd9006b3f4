// The device's document storage as the simulator plays it: users, their folders and
// sub-folders, documents with their TIFF files. Loaded from a folder's storage.xml
// (docs/device_simulator.md).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct SimDocument {
    uint32_t id = 0;
    int folder = -1;  // index into folders
    std::string subject;
    std::string timestamp;
    std::string doctype = "SCAN";
    std::string status = "NEW";
    std::string imagePath;  // the device path it is fetched by
    std::string file;       // full path of its TIFF file, empty when it has none
    int pages = 1;
    int owner = 0;
    bool deleted = false;
};

struct SimFolder {
    uint32_t id = 0;
    std::string name;
    std::string timestamp;
    int owner = 0;
    std::vector<int> folders;    // sub-folders, indexes into folders
    std::vector<int> documents;  // indexes into documents
};

struct SimUser {
    std::string id;
    std::string name;
    std::string password;
    int handle = 0;
    std::vector<int> folders;  // top-level folders
};

struct Storage {
    std::string name = "Orvel Simulator";
    std::string type = "1";
    std::vector<SimUser> users;
    std::vector<SimFolder> folders;
    std::vector<SimDocument> documents;
    std::mutex lock;  // deletions happen on connection threads

    const SimUser* UserByHandle(int handle) const;
    int FolderById(uint32_t id) const;
    int DocumentById(uint32_t id) const;
    int DocumentByImagePath(const std::string& path) const;
};

// Reads folder/storage.xml; false with a reason in error when it cannot be used.
bool LoadStorage(const std::string& folder, Storage& storage, std::string& error);

// Switches that add synthetic records beyond what the description holds.
void AddSyntheticFolders(Storage& storage, int count);
void AddSyntheticDocuments(Storage& storage, int count);

std::string DefaultImagePath(uint32_t id);
std::string HexId(uint32_t id);
