// archive: a folder's documents moved into an archive folder. A document is archived when its
// file, TIME_DOC.tif, is in the folder: files reach that name only after the whole check, so the
// name is the record. Nothing is deleted on the device before its file has been checked, written
// to the disk and renamed into place.
#include <algorithm>
#include <cstdio>

#include "tools/qrvbox/commands.h"
#include "tools/qrvbox/document_check.h"
#include "tools/qrvbox/listing.h"
#include "tools/qrvbox/output.h"
#include "tools/qrvbox/output_folder.h"
#include "tools/qrvbox/storage_session.h"

namespace {

// The most timestamp digits a name keeps: year to second.
constexpr size_t NameDigits = 14;

// The archive's name of a document: the digits of its time (so that names sort by time), then its
// id, which the device never gives two documents at once. A device that gives an id again to a
// later document gives it another time, so the later document is archived under its own name.
std::string ArchiveName(const DocumentEntry& document) {
    std::string digits;
    for (char c : document.timestamp)
        if (c >= '0' && c <= '9' && digits.size() < NameDigits) digits += c;
    return (digits.empty() ? "" : digits + "_") + HexId(document.id) + ".tif";
}

enum class Outcome { Archived, AlreadyArchived, Failed };

struct Tally {
    int archived = 0;
    int already = 0;
    int deleted = 0;
    int failed = 0;
    std::vector<std::string> results;  // JSON objects, one per document handled
};

// Fetches and checks the document, then gives it its name; the file is on the disk before this
// returns Archived.
Outcome ArchiveDocument(StorageSession& session, const OutputFolder& out, const DocumentEntry& document,
                        const std::string& name, Failure& failure) {
    const std::string partial = out.Partial(name);
    if (!session.Fetch(document, partial, failure)) return Outcome::Failed;
    std::string problem;
    bool good = CheckDocumentFile(partial, document.pages, problem);
    if (!good) failure.text = "the fetched file failed its check: " + problem;
    if (good) {
        FILE* file = OpenFile(partial, "rb+");
        good = file && SyncFile(file);
        if (file) std::fclose(file);
        if (!good) failure.text = "the fetched file could not be written to the disk";
    }
    bool exists = false;
    if (good && !RenameNew(partial, out.Final(name), exists)) {
        good = false;
        failure.text = exists ? "" : "the file " + out.Final(name) + " cannot be put in place";
    }
    RemoveFile(partial);
    if (exists) return Outcome::AlreadyArchived;  // another name for the same file came meanwhile
    if (good && !SyncFolder(out.path())) {
        failure.text = "the folder " + out.path() + " could not be written to the disk";
        return Outcome::Failed;
    }
    return good ? Outcome::Archived : Outcome::Failed;
}

// The order documents are archived in: oldest first, as they arrived.
bool OlderFirst(const DocumentEntry* a, const DocumentEntry* b) {
    if (a->timestamp != b->timestamp) return a->timestamp < b->timestamp;
    return a->id < b->id;
}

}  // namespace

int RunArchive(const CommandLine& line, const Settings& settings) {
    StorageSession session(settings);
    uint32_t folderId = 0;
    std::vector<DocumentEntry> records;
    if (!session.LogOn() || !session.FindFolder(line.folder, folderId) || !session.ListFolder(folderId, records))
        return ExitFailure;
    std::vector<const DocumentEntry*> documents;
    for (const DocumentEntry& record : records)
        if (KindOf(record) == RecordKind::Document) documents.push_back(&record);
    std::stable_sort(documents.begin(), documents.end(), OlderFirst);

    OutputFolder out;
    std::string problem;
    if (!out.Open(line.out, problem)) {
        Say(problem);
        return ExitFailure;
    }
    ProgressLine progress;
    Tally tally;
    bool stopped = false;
    for (size_t i = 0; i < documents.size() && !stopped && !Interrupted(); ++i) {
        const DocumentEntry& document = *documents[i];
        const std::string id = HexId(document.id);
        const std::string name = ArchiveName(document);
        progress.Show("archive " + std::to_string(i + 1) + "/" + std::to_string(documents.size()) + " " + id + " " +
                      document.subject);
        Failure failure;
        Outcome outcome;
        if (FileExists(out.Final(name))) {
            outcome = Outcome::AlreadyArchived;
        } else {
            outcome = ArchiveDocument(session, out, document, name, failure);
        }
        // Before a deletion the file in place is checked again, whoever put it there.
        bool keep = false;
        if (outcome == Outcome::AlreadyArchived && line.deleteAfter &&
            !CheckDocumentFile(out.Final(name), document.pages, problem)) {
            failure.text = "its archived file " + out.Final(name) + " failed its check: " + problem;
            keep = true;
        }
        JsonObject result;
        result.Text("id", id).Text("subject", document.subject).Text("time", document.timestamp);
        result.Text("file", out.Final(name));
        bool deleted = false;
        if (outcome != Outcome::Failed && line.deleteAfter && !Interrupted()) {
            deleted = !keep && session.Delete(document.id, failure);
            if (!deleted) {
                Say("document " + id + " was not deleted on the device: " + failure.text);
                ++tally.failed;
            } else {
                ++tally.deleted;
            }
        }
        if (outcome == Outcome::Failed && !Interrupted()) {
            Say("document " + id + " was not archived: " + failure.text);
            ++tally.failed;
        }
        if (outcome == Outcome::Archived) ++tally.archived;
        if (outcome == Outcome::AlreadyArchived) ++tally.already;
        result.Text("outcome", outcome == Outcome::Archived ? "archived"
                               : outcome == Outcome::AlreadyArchived ? "already archived" : "failed");
        result.Boolean("deleted", deleted);
        if (!failure.text.empty()) result.Text("error", failure.text);
        tally.results.push_back(result.Json());
        stopped = failure.lost;
    }
    progress.Clear();
    if (Interrupted()) Say("interrupted: every archived file is complete, nothing is half-written");
    else if (stopped) Say("stopped: the device cannot be reached");
    std::string summary = std::to_string(tally.archived) + " archived, " + std::to_string(tally.already) +
                          " already archived, " + std::to_string(tally.deleted) + " deleted on the device, " +
                          std::to_string(tally.failed) + " failed, of " + std::to_string(documents.size()) +
                          " documents in " + line.folder;
    const bool printed = line.json ? PrintOut(JsonObject()
                                                  .Text("folder", line.folder)
                                                  .Number("archived", tally.archived)
                                                  .Number("alreadyArchived", tally.already)
                                                  .Number("deleted", tally.deleted)
                                                  .Number("failed", tally.failed)
                                                  .Raw("documents", JsonArray(tally.results))
                                                  .Json() +
                                              "\n")
                                   : PrintOut(summary + "\n");
    if (!printed) Say("the results could not be written to standard output");
    const bool complete = tally.results.size() == documents.size();
    return printed && complete && tally.failed == 0 && !Interrupted() ? ExitSuccess : ExitFailure;
}
