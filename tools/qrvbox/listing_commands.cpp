// users, folders, list: what the device holds, as text columns or JSON.
#include <cstdio>

#include "tools/qrvbox/commands.h"
#include "tools/qrvbox/listing.h"
#include "tools/qrvbox/output.h"
#include "tools/qrvbox/storage_session.h"

namespace {

std::string Column(const std::string& text, size_t width) {
    return text.size() >= width ? text + "  " : text + std::string(width - text.size() + 2, ' ');
}

std::string RightColumn(const std::string& text, size_t width) {
    return (text.size() >= width ? text : std::string(width - text.size(), ' ') + text) + "  ";
}

int Printed(const std::string& text) {
    if (PrintOut(text)) return ExitSuccess;
    Say("the results could not be written to standard output");
    return ExitFailure;
}

}  // namespace

int RunUsers(const CommandLine& line, const Settings& settings) {
    StorageSession session(settings);
    std::vector<UserEntry> users;
    if (!session.Users(users)) return ExitFailure;
    if (line.json) {
        std::vector<std::string> elements;
        for (const UserEntry& user : users)
            elements.push_back(JsonObject().Text("id", user.id).Text("name", user.name).Number("handle", user.handle).Json());
        return Printed(JsonArray(elements) + "\n");
    }
    std::string text = "ID   NAME\n";
    for (const UserEntry& user : users) text += Column(user.id, 3) + user.name + "\n";
    return Printed(text);
}

int RunFolders(const CommandLine& line, const Settings& settings) {
    StorageSession session(settings);
    if (!session.LogOn()) return ExitFailure;
    if (line.json) {
        std::vector<std::string> elements;
        for (const FolderEntry& folder : session.Folders())
            elements.push_back(JsonObject().Text("id", HexId(folder.id)).Text("name", folder.name).Json());
        return Printed(JsonArray(elements) + "\n");
    }
    std::string text = "ID        NAME\n";
    for (const FolderEntry& folder : session.Folders()) text += Column(HexId(folder.id), 8) + folder.name + "\n";
    return Printed(text);
}

int RunList(const CommandLine& line, const Settings& settings) {
    StorageSession session(settings);
    uint32_t folderId = 0;
    std::vector<DocumentEntry> records;
    if (!session.LogOn() || !session.FindFolder(line.folder, folderId) || !session.ListFolder(folderId, records))
        return ExitFailure;
    std::vector<ListingRow> rows = ListingRows(records);
    SortRows(rows, line.sortColumn, line.reverse);
    if (line.json) {
        std::vector<std::string> elements;
        for (const ListingRow& row : rows) {
            JsonObject object;
            object.Text("kind", row.folder ? "folder" : "document").Text("id", HexId(row.key));
            if (row.folder) {
                object.Text("name", row.text).Text("time", row.time);
            } else {
                const DocumentEntry& record = *row.record;
                object.Text("subject", row.text).Text("time", row.time).Number("pages", row.pages);
                object.Text("type", record.type).Text("status", record.status);
            }
            elements.push_back(object.Json());
        }
        return Printed(JsonArray(elements) + "\n");
    }
    std::string text = "ID        TIME                 PAGES  SUBJECT\n";
    for (const ListingRow& row : rows) {
        text += Column(HexId(row.key), 8) + Column(row.time, 19);
        text += row.folder ? RightColumn("", 5) + row.text + "/\n" : RightColumn(std::to_string(row.pages), 5) + row.text + "\n";
    }
    return Printed(text);
}
