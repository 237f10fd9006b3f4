// qrvbox's command line: the subcommand, its arguments and options, and the help of each.
#pragma once

#include <string>
#include <vector>

#include "tools/qrvbox/page_images.h"

enum class Command { None, Users, Folders, List, Fetch, Archive, Delete };

// The "Time" column, newest first, as the source's document list starts.
enum SortColumn { SortSubject = 0, SortTime = 1, SortPages = 2 };

struct CommandLine {
    Command command = Command::None;
    bool help = false;  // show the help of the command (or the general help) and do nothing else
    bool json = false;
    std::string device;        // --device HOST[:PORT]
    std::string user;          // --user ID
    std::string passwordFile;  // --password-file FILE
    std::string folder;
    std::vector<std::string> documents;
    std::string out;           // --out DIR
    SortColumn sortColumn = SortTime;
    bool reverse = false;
    ImageSettings images;
    bool deleteAfter = false;  // archive --delete
    bool yes = false;          // delete --yes
};

// Exit statuses.
constexpr int ExitSuccess = 0;
constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

// Reads the arguments; false with the reason for a usage error.
bool ParseCommandLine(const std::vector<std::string>& arguments, CommandLine& line, std::string& problem);

// The help of a command, or the general help for Command::None.
std::string HelpText(Command command);
// One line naming where --help is, for usage errors.
std::string UsageHint(Command command);
