// fetch: documents as the device sends them (DOC.tif), or their pages converted as for a
// transfer (DOC-NNN.png or .bmp). Each file is made in the work folder and renamed into place.
#include <cstdio>

#include "tools/qrvbox/commands.h"
#include "tools/qrvbox/listing.h"
#include "tools/qrvbox/output.h"
#include "tools/qrvbox/output_folder.h"
#include "tools/qrvbox/storage_session.h"

namespace {

std::string PageFileName(uint32_t id, uint32_t page, ImageFormat format) {
    char name[64];
    std::snprintf(name, sizeof name, "%08X-%03u.%s", static_cast<unsigned>(id), static_cast<unsigned>(page),
                  ImageExtension(format));
    return name;
}

// The pages of the range that the document has, by the page count the device lists (as the
// source's ranges go by it).
bool PagesOf(const DocumentEntry& document, const PageRange& range, uint32_t& first, uint32_t& last,
             std::string& problem) {
    if (document.pages < 1) {
        problem = "the device lists no pages for it";
        return false;
    }
    const auto pages = static_cast<uint32_t>(document.pages);
    first = range.first;
    last = range.last == 0 || range.last > pages ? pages : range.last;
    if (first > pages) {
        problem = "it has " + std::to_string(pages) + (pages == 1 ? " page" : " pages");
        return false;
    }
    return true;
}

// Writes the document's pages as images; the names of the files made go to files.
bool WritePages(const OutputFolder& out, const DocumentEntry& document, const std::string& tiff,
                const ImageSettings& images, std::vector<std::string>& files, std::string& problem) {
    uint32_t first = 0, last = 0;
    if (!PagesOf(document, images.range, first, last, problem)) return false;
    FILE* file = OpenFile(tiff, "rb");
    if (!file) {
        problem = "the fetched file cannot be read";
        return false;
    }
    bool good = true;
    for (uint32_t page = first; good && page <= last && !Interrupted(); ++page) {
        const std::string name = PageFileName(document.id, page, images.format);
        const std::string partial = out.Partial(name);
        good = WritePageImage(file, page, images, partial, problem);
        if (good && !RenameReplacing(partial, out.Final(name))) {
            RemoveFile(partial);
            problem = "the file " + out.Final(name) + " cannot be put in place";
            good = false;
        }
        if (good) files.push_back(out.Final(name));
    }
    std::fclose(file);
    return good;
}

}  // namespace

int RunFetch(const CommandLine& line, const Settings& settings) {
    StorageSession session(settings);
    uint32_t folderId = 0;
    std::vector<DocumentEntry> records;
    std::vector<const DocumentEntry*> picked;
    if (!session.LogOn() || !session.FindFolder(line.folder, folderId) || !session.ListFolder(folderId, records) ||
        !PickDocuments(records, line.documents, line.folder, picked))
        return ExitFailure;
    OutputFolder out;
    std::string problem;
    if (!out.Open(line.out, problem)) {
        Say(problem);
        return ExitFailure;
    }
    ProgressLine progress;
    std::vector<std::string> results;
    std::string listing;
    int failures = 0;
    for (size_t i = 0; i < picked.size() && !Interrupted(); ++i) {
        const DocumentEntry& document = *picked[i];
        const std::string id = HexId(document.id);
        progress.Show("fetch " + std::to_string(i + 1) + "/" + std::to_string(picked.size()) + " " + id + " " +
                      document.subject);
        const std::string tiff = out.Partial(id + ".tif");
        std::vector<std::string> files;
        Failure failure;
        bool good = session.Fetch(document, tiff, failure);
        problem = failure.text;
        if (good && !line.images.wanted) {
            good = RenameReplacing(tiff, out.Final(id + ".tif"));
            if (good) files.push_back(out.Final(id + ".tif"));
            else problem = "the file " + out.Final(id + ".tif") + " cannot be put in place";
        } else if (good) {
            good = WritePages(out, document, tiff, line.images, files, problem);
        }
        RemoveFile(tiff);
        JsonObject result;
        result.Text("id", id);
        std::vector<std::string> names;
        for (const std::string& file : files) {
            names.push_back(JsonText(file));
            listing += file + "\n";
        }
        result.Raw("files", JsonArray(names));
        if (!good && !Interrupted()) {
            Say("document " + id + " was not fetched: " + problem);
            result.Text("error", problem);
            ++failures;
        }
        results.push_back(result.Json());
        if (!good && failure.lost) break;
    }
    progress.Clear();
    if (Interrupted()) Say("interrupted: files made so far are complete, nothing is half-written");
    if (!PrintOut(line.json ? JsonArray(results) + "\n" : listing)) {
        Say("the results could not be written to standard output");
        return ExitFailure;
    }
    return failures == 0 && !Interrupted() && results.size() == picked.size() ? ExitSuccess : ExitFailure;
}
