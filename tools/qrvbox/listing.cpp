#include "tools/qrvbox/listing.h"

#include <algorithm>

#include "device/protocol_codec.h"
#include "tools/qrvbox/output.h"
#include "tools/qrvbox/platform.h"
#include "tools/qrvbox/storage_session.h"

namespace {

// Negative when a comes first, as the list's comparator answers.
int CompareRows(const ListingRow& a, const ListingRow& b, SortColumn column) {
    int result;
    if (a.folder != b.folder)
        result = a.folder ? -1 : 1;
    else if (column == SortPages)
        result = b.pages < a.pages ? -1 : b.pages > a.pages ? 1 : 0;
    else
        result = -CompareTextsIgnoringCase(column == SortSubject ? a.text : a.time, column == SortSubject ? b.text : b.time);
    if (result == 0) result = a.key < b.key ? -1 : a.key > b.key ? 1 : 0;
    return result;
}

}  // namespace

std::vector<ListingRow> ListingRows(const std::vector<DocumentEntry>& records) {
    std::vector<ListingRow> rows;
    rows.reserve(records.size());
    for (const DocumentEntry& record : records) {
        switch (KindOf(record)) {
        case RecordKind::Folder:
            rows.push_back({true, record.folderId, record.folderName, record.timestamp, 0, &record});
            break;
        case RecordKind::Document:
            rows.push_back({false, record.id, record.subject, record.timestamp, record.pages, &record});
            break;
        case RecordKind::Hidden:
            break;
        }
    }
    return rows;
}

void SortRows(std::vector<ListingRow>& rows, SortColumn column, bool reverse) {
    std::stable_sort(rows.begin(), rows.end(), [&](const ListingRow& a, const ListingRow& b) {
        return reverse ? CompareRows(b, a, column) < 0 : CompareRows(a, b, column) < 0;
    });
}

bool PickDocuments(const std::vector<DocumentEntry>& records, const std::vector<std::string>& ids,
                   const std::string& folder, std::vector<const DocumentEntry*>& picked) {
    picked.clear();
    for (const std::string& text : ids) {
        uint32_t id = 0;
        if (!ParseId(text, id) || text.find_first_of(" \t") != std::string::npos) {
            Say("'" + text + "' is no document id (the ids that 'qrvbox list' shows)");
            return false;
        }
        const DocumentEntry* found = nullptr;
        for (const DocumentEntry& record : records) {
            if (record.id == id && KindOf(record) == RecordKind::Document) {
                found = &record;
                break;
            }
        }
        if (!found) {
            Say("the folder " + folder + " holds no document " + HexId(id));
            return false;
        }
        picked.push_back(found);
    }
    return true;
}
