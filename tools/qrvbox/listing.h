// A folder's listing as the source's document list shows it: one row per sub-folder and per
// document (records whose type merely contains "FOLDER" are left out), sorted as the list sorts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/storage_protocol.h"
#include "tools/qrvbox/command_line.h"

struct ListingRow {
    bool folder = false;
    uint32_t key = 0;     // a document's id, a sub-folder's folder id
    std::string text;     // "Subject": the subject, or the sub-folder's name
    std::string time;
    int32_t pages = 0;    // 0 for a sub-folder
    const DocumentEntry* record = nullptr;
};

std::vector<ListingRow> ListingRows(const std::vector<DocumentEntry>& records);

// The list's comparator: sub-folders before documents; "Pages" larger first; "Subject" and
// "Time" the greater text first (newest first for times), ignoring case; equal rows by key.
// Reversed, everything is the other way round, sub-folders last.
void SortRows(std::vector<ListingRow>& rows, SortColumn column, bool reverse);

// The documents that ids (1 to 8 hexadecimal digits each) name in a folder's listing, in the order
// given; false after saying which id names no document of the folder.
bool PickDocuments(const std::vector<DocumentEntry>& records, const std::vector<std::string>& ids,
                   const std::string& folder, std::vector<const DocumentEntry*>& picked);
