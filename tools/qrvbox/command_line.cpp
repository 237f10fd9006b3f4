#include "tools/qrvbox/command_line.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "imaging/page_bitmap_format.h"

namespace {

struct CommandName {
    Command command;
    const char* name;
};
const CommandName Commands[] = {
    {Command::Users, "users"},     {Command::Folders, "folders"}, {Command::List, "list"},
    {Command::Fetch, "fetch"},     {Command::Archive, "archive"}, {Command::Delete, "delete"},
};

// The fixed image sizes the source offers (both paper families), in hundredths of an inch.
struct Paper {
    const char* name;
    int32_t width;
    int32_t height;
};
const Paper Papers[] = {
    {"A4", 826, 1168},     {"A5(LEF)", 826, 582},        {"F4", 826, 1300},     {"B5", 717, 1012},
    {"A5", 582, 826},      {"Letter", 850, 1100},        {"H.Letter(LEF)", 850, 550},
    {"Legal", 850, 1400},  {"Executive", 725, 1050},     {"Statement", 550, 850},
};

const char* const GeneralHelp =
    "usage: qrvbox [options] COMMAND [arguments]\n"
    "\n"
    "The document storage of an Orvel device from the command line.\n"
    "\n"
    "commands:\n"
    "  users                         the users registered on the device\n"
    "  folders                       the user's folders\n"
    "  list FOLDER                   the documents and sub-folders of a folder\n"
    "  fetch FOLDER DOC... --out DIR documents as TIFF files, or their pages as images\n"
    "  archive FOLDER --out DIR      every document not archived yet, checked, [--delete]\n"
    "  delete FOLDER DOC...          documents deleted on the device (asks unless --yes)\n"
    "\n"
    "options of every command:\n"
    "  --device HOST[:PORT]  the device (an IPv6 address in brackets); default port 80\n"
    "  --user ID             the user's id, e.g. 001\n"
    "  --password-file FILE  the password from the first line of FILE (readable only by you)\n"
    "  --json                results as JSON on standard output\n"
    "  --help                the help of the command\n"
    "\n"
    "Folders are named by their names, a sub-folder as Inbox/Archive; documents by the ids that\n"
    "list shows. The password comes from --password-file, else from QRVBOX_PASSWORD, else it is\n"
    "asked for on the terminal when the device refuses the logon without one.\n"
    "Saved settings: %SETTINGS%.\n"
    "Exit status: 0 success, 1 failure, 2 usage error. Messages go to standard error.\n";

const char* const UsersHelp =
    "usage: qrvbox [options] users\n"
    "\n"
    "Lists the users registered on the device: id, name. Needs no user and no password.\n";

const char* const FoldersHelp =
    "usage: qrvbox [options] folders\n"
    "\n"
    "Lists the user's folders: id, name. Sub-folders show in the listing of their folder.\n";

const char* const ListHelp =
    "usage: qrvbox [options] list FOLDER [--sort time|subject|pages] [--reverse]\n"
    "\n"
    "Lists a folder as the source's document list shows it: sub-folders first, then the\n"
    "documents with id, time, pages and subject. Sorted by time, newest first, unless\n"
    "--sort says otherwise (subject: descending, pages: most first); --reverse turns the\n"
    "whole order round (sub-folders last).\n";

const char* const FetchHelp =
    "usage: qrvbox [options] fetch FOLDER DOC... --out DIR [image options]\n"
    "\n"
    "Fetches documents into DIR, each as DOC.tif, the TIFF file as the device sends it.\n"
    "With any image option, the pages are converted as the source converts them for a transfer\n"
    "and each is written as DOC-NNN.png (or .bmp) instead:\n"
    "  --pages all|N|N-M         the pages (default all)\n"
    "  --resolution DPI          change the resolution, e.g. 200, 300 or 400 (default: no change)\n"
    "  --pixel-type bw|gray      black and white (default) or gray scale\n"
    "  --paper NAME|WxH          a fixed image size: A4, A5(LEF), F4, B5, A5, Letter,\n"
    "                            H.Letter(LEF), Legal, Executive, Statement, or width x height\n"
    "                            in hundredths of an inch (826x1168)\n"
    "  --format png|bmp          the image files' format (default png)\n"
    "Files appear under their names only when complete; an existing file is replaced.\n";

const char* const ArchiveHelp =
    "usage: qrvbox [options] archive FOLDER --out DIR [--delete]\n"
    "\n"
    "Moves a folder's documents into an archive folder: every document not archived yet is\n"
    "fetched under a temporary name, checked (the whole TIFF structure, every page decodes, as\n"
    "many pages as the device lists) and only then renamed into place as TIME_DOC.tif (the\n"
    "document's time as digits, its id). A document whose file is in DIR is archived already\n"
    "and is not fetched again. With --delete each document is deleted on the device once its\n"
    "archived file has been checked; a document archived before is checked again first.\n"
    "An interrupted run loses nothing: what was half-written is removed at the next start.\n"
    "Sub-folders are not archived; name them as FOLDER/SUB to archive them.\n";

const char* const DeleteHelp =
    "usage: qrvbox [options] delete FOLDER DOC... [--yes]\n"
    "\n"
    "Deletes documents on the device. Asks on the terminal first unless --yes is given; without\n"
    "a terminal, --yes is required.\n";

bool TakeNumber(const std::string& text, uint32_t& value, uint32_t low, uint32_t high) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    value = static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
    return value >= low && value <= high;
}

bool SameIgnoringCase(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool ParsePages(const std::string& text, PageRange& range) {
    if (text == "all") {
        range = PageRange{};
        return true;
    }
    const size_t dash = text.find('-');
    if (dash == std::string::npos)
        return TakeNumber(text, range.first, 1, 65536) && (range.last = range.first, true);
    return TakeNumber(text.substr(0, dash), range.first, 1, 65536) &&
           TakeNumber(text.substr(dash + 1), range.last, range.first, 65536);
}

bool ParsePaper(const std::string& text, ConversionSettings& settings) {
    for (const Paper& paper : Papers) {
        if (SameIgnoringCase(text, paper.name)) {
            settings.paperWidth = paper.width;
            settings.paperHeight = paper.height;
            settings.fixedSizeOn = true;
            return true;
        }
    }
    const size_t x = text.find('x');
    uint32_t width = 0, height = 0;
    if (x == std::string::npos || !TakeNumber(text.substr(0, x), width, 1, 100000) ||
        !TakeNumber(text.substr(x + 1), height, 1, 100000))
        return false;
    settings.paperWidth = static_cast<int32_t>(width);
    settings.paperHeight = static_cast<int32_t>(height);
    settings.fixedSizeOn = true;
    return true;
}

bool ParseImageOption(const std::string& option, const std::string& value, ImageSettings& images) {
    images.wanted = true;
    ConversionSettings& conversion = images.conversion;
    if (option == "--pages") return ParsePages(value, images.range);
    if (option == "--resolution") {
        uint32_t dpi = 0;
        if (!TakeNumber(value, dpi, 1, 32767)) return false;
        conversion.resolutionChange = true;
        conversion.targetXResolution = dpi;
        conversion.targetYResolution = dpi;
        return true;
    }
    if (option == "--pixel-type") {
        if (value == "bw") conversion.pixelType = PixelTypeBlackWhite;
        else if (value == "gray") conversion.pixelType = PixelTypeGray;
        else return false;
        return true;
    }
    if (option == "--paper") return ParsePaper(value, conversion);
    if (option == "--format") {
        if (value == "png") images.format = ImageFormat::Png;
        else if (value == "bmp") images.format = ImageFormat::Bmp;
        else return false;
        return true;
    }
    return false;
}

// Which options take a value and which commands accept them.
struct OptionRule {
    const char* name;
    bool value;
    bool (*accepts)(Command);
};
bool Any(Command) { return true; }
bool ListOnly(Command c) { return c == Command::List; }
bool FetchOnly(Command c) { return c == Command::Fetch; }
bool FetchOrArchive(Command c) { return c == Command::Fetch || c == Command::Archive; }
bool ArchiveOnly(Command c) { return c == Command::Archive; }
bool DeleteOnly(Command c) { return c == Command::Delete; }
const OptionRule Options[] = {
    {"--device", true, Any},          {"--user", true, Any},           {"--password-file", true, Any},
    {"--json", false, Any},           {"--help", false, Any},          {"-h", false, Any},
    {"--sort", true, ListOnly},       {"--reverse", false, ListOnly},  {"--out", true, FetchOrArchive},
    {"--pages", true, FetchOnly},     {"--resolution", true, FetchOnly}, {"--pixel-type", true, FetchOnly},
    {"--paper", true, FetchOnly},     {"--format", true, FetchOnly},   {"--delete", false, ArchiveOnly},
    {"--yes", false, DeleteOnly},
};

const OptionRule* FindOption(const std::string& name) {
    for (const OptionRule& rule : Options)
        if (name == rule.name) return &rule;
    return nullptr;
}

bool ApplyOption(const std::string& name, const std::string& value, CommandLine& line, std::string& problem) {
    if (name == "--device") line.device = value;
    else if (name == "--user") line.user = value;
    else if (name == "--password-file") line.passwordFile = value;
    else if (name == "--json") line.json = true;
    else if (name == "--help" || name == "-h") line.help = true;
    else if (name == "--reverse") line.reverse = true;
    else if (name == "--out") line.out = value;
    else if (name == "--delete") line.deleteAfter = true;
    else if (name == "--yes") line.yes = true;
    else if (name == "--sort") {
        if (value == "time") line.sortColumn = SortTime;
        else if (value == "subject") line.sortColumn = SortSubject;
        else if (value == "pages") line.sortColumn = SortPages;
        else return (problem = "--sort takes time, subject or pages, not '" + value + "'"), false;
    } else if (!ParseImageOption(name, value, line.images)) {
        problem = "invalid value '" + value + "' for " + name;
        return false;
    }
    return true;
}

// The positional arguments each command takes.
bool CheckArguments(const std::vector<std::string>& positional, CommandLine& line, std::string& problem) {
    const bool needsFolder = line.command != Command::Users && line.command != Command::Folders;
    const bool takesDocuments = line.command == Command::Fetch || line.command == Command::Delete;
    if (!needsFolder && !positional.empty()) return (problem = "unexpected argument '" + positional[0] + "'"), false;
    if (needsFolder && positional.empty()) return (problem = "no folder named"), false;
    if (needsFolder) line.folder = positional[0];
    if (!takesDocuments && positional.size() > 1) return (problem = "unexpected argument '" + positional[1] + "'"), false;
    if (takesDocuments && positional.size() < 2) return (problem = "no document named"), false;
    if (takesDocuments) line.documents.assign(positional.begin() + 1, positional.end());
    if ((line.command == Command::Fetch || line.command == Command::Archive) && line.out.empty())
        return (problem = "no output folder (--out DIR)"), false;
    return true;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& arguments, CommandLine& line, std::string& problem) {
    line = CommandLine{};
    std::vector<std::string> positional;
    // Options first, checked against the command once it is known.
    std::vector<std::pair<std::string, std::string>> given;
    for (size_t i = 0; i < arguments.size(); ++i) {
        std::string argument = arguments[i];
        if (argument.size() > 1 && argument[0] == '-') {
            std::string value;
            const size_t equals = argument.find('=');
            if (equals != std::string::npos) {
                value = argument.substr(equals + 1);
                argument.resize(equals);
            }
            const OptionRule* rule = FindOption(argument);
            if (!rule) return (problem = "unknown option '" + argument + "'"), false;
            if (rule->value && equals == std::string::npos) {
                if (i + 1 >= arguments.size()) return (problem = argument + " needs a value"), false;
                value = arguments[++i];
            } else if (!rule->value && equals != std::string::npos) {
                return (problem = argument + " takes no value"), false;
            }
            given.emplace_back(argument, value);
        } else if (line.command == Command::None && !(argument == "help" && positional.empty())) {
            for (const CommandName& entry : Commands)
                if (argument == entry.name) line.command = entry.command;
            if (line.command == Command::None) return (problem = "unknown command '" + argument + "'"), false;
        } else if (argument == "help" && line.command == Command::None) {
            line.help = true;  // "qrvbox help [COMMAND]"
        } else {
            positional.push_back(argument);
        }
    }
    for (const auto& [name, value] : given) {
        if (!FindOption(name)->accepts(line.command) && line.command != Command::None)
            return (problem = name + " is not an option of this command"), false;
        if (!ApplyOption(name, value, line, problem)) return false;
    }
    if (line.help) return true;
    if (line.command == Command::None) return (problem = "no command given"), false;
    return CheckArguments(positional, line, problem);
}

std::string HelpText(Command command) {
    switch (command) {
    case Command::Users: return UsersHelp;
    case Command::Folders: return FoldersHelp;
    case Command::List: return ListHelp;
    case Command::Fetch: return FetchHelp;
    case Command::Archive: return ArchiveHelp;
    case Command::Delete: return DeleteHelp;
    case Command::None: break;
    }
    return GeneralHelp;
}

std::string UsageHint(Command command) {
    for (const CommandName& entry : Commands)
        if (entry.command == command) return std::string("see 'qrvbox ") + entry.name + " --help'";
    return "see 'qrvbox --help'";
}
