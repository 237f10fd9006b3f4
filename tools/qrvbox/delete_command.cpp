// delete: documents deleted on the device, after a question on the terminal unless --yes.
#include "tools/qrvbox/commands.h"
#include "tools/qrvbox/listing.h"
#include "tools/qrvbox/output.h"
#include "tools/qrvbox/platform.h"
#include "tools/qrvbox/storage_session.h"

namespace {

bool Confirmed(const std::vector<const DocumentEntry*>& documents, const std::string& folder) {
    std::string question = "Delete " + std::to_string(documents.size()) +
                           (documents.size() == 1 ? " document" : " documents") + " of " + folder + " on the device?\n";
    for (const DocumentEntry* document : documents)
        question += "  " + HexId(document->id) + "  " + document->timestamp + "  " + document->subject + "\n";
    question += "[y/N] ";
    std::string answer;
    return ReadAnswer(question.c_str(), answer) && (answer == "y" || answer == "Y" || answer == "yes");
}

}  // namespace

int RunDelete(const CommandLine& line, const Settings& settings) {
    if (!line.yes && !IsTerminal(stdin)) {
        Say("delete asks before it deletes, and there is no terminal to ask on: give --yes");
        return ExitUsage;
    }
    StorageSession session(settings);
    uint32_t folderId = 0;
    std::vector<DocumentEntry> records;
    std::vector<const DocumentEntry*> picked;
    if (!session.LogOn() || !session.FindFolder(line.folder, folderId) || !session.ListFolder(folderId, records) ||
        !PickDocuments(records, line.documents, line.folder, picked))
        return ExitFailure;
    if (!line.yes && !Confirmed(picked, line.folder)) {
        Say("nothing was deleted");
        return ExitFailure;
    }
    std::vector<std::string> results;
    std::string listing;
    int failures = 0;
    for (const DocumentEntry* document : picked) {
        if (Interrupted()) break;
        Failure failure;
        const bool deleted = session.Delete(document->id, failure);
        JsonObject result;
        result.Text("id", HexId(document->id)).Boolean("deleted", deleted);
        if (deleted) {
            listing += "deleted " + HexId(document->id) + "\n";
        } else {
            Say("document " + HexId(document->id) + " was not deleted: " + failure.text);
            result.Text("error", failure.text);
            ++failures;
        }
        results.push_back(result.Json());
        if (failure.lost) break;
    }
    if (Interrupted()) Say("interrupted");
    if (!PrintOut(line.json ? JsonArray(results) + "\n" : listing)) {
        Say("the results could not be written to standard output");
        return ExitFailure;
    }
    return failures == 0 && results.size() == picked.size() ? ExitSuccess : ExitFailure;
}
