// What qrvbox needs of the operating system, with one implementation for POSIX systems and one
// for Windows. Paths and texts are UTF-8 throughout the tool; the Windows side converts them at
// each call.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The program's arguments (without the program name) in UTF-8.
std::vector<std::string> ProgramArguments(int argc, char** argv);
// Makes standard output and standard error take UTF-8 text as it is.
void PrepareConsole();
// Writes UTF-8 text to a stream (a console gets it as characters); false when it could not.
bool WriteText(FILE* stream, const std::string& utf8);

// The value of an environment variable; false when it is not set.
bool EnvironmentValue(const char* name, std::string& value);

// Interrupts (Ctrl+C, a termination request) are noted, not acted on at once: a request in
// progress is given up and the command stops at its next step, leaving nothing half-written.
void WatchInterrupts();
bool Interrupted();

bool IsTerminal(FILE* stream);
// Asks on the terminal and reads one line without echo; false when there is no terminal.
bool ReadSecret(const char* prompt, std::string& line);
// Asks on standard error and reads one line of standard input; false at its end.
bool ReadAnswer(const char* prompt, std::string& line);

std::string JoinPath(const std::string& folder, const std::string& name);
FILE* OpenFile(const std::string& path, const char* mode);
bool FileExists(const std::string& path);
// Creates the folder and the folders above it; true when it exists afterwards.
bool MakeFolders(const std::string& path, std::string& problem);
// Names of the entries of a folder (not "." and "..").
std::vector<std::string> FolderEntries(const std::string& path);
bool RemoveFile(const std::string& path);
bool RemoveEmptyFolder(const std::string& path);
// Flushes a written file to the disk (the file stays open).
bool SyncFile(FILE* file);
// Makes a rename within the folder durable.
bool SyncFolder(const std::string& path);
// Gives the file its final name; fails when a file of that name exists already.
bool RenameNew(const std::string& from, const std::string& to, bool& targetExists);
// Gives the file its final name, replacing a file of that name.
bool RenameReplacing(const std::string& from, const std::string& to);

// An exclusive lock on a file in a folder, held while the object lives: two runs of the tool
// never work in one output folder at the same time.
class FolderLock {
public:
    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    // False when another process holds it or the file cannot be made.
    bool Take(const std::string& path);

private:
    std::string path_;
    intptr_t handle_ = -1;
};

// A file whose contents only its owner may read: a regular file of the current user that
// neither its group nor others may access. Where the system keeps no such bits (Windows), any
// readable file passes. False with the reason otherwise.
bool OwnerOnlyFile(const std::string& path, std::string& problem);

// Case-insensitive order of two texts as the system's list views sort them; negative, 0 or
// positive.
int CompareTextsIgnoringCase(const std::string& a, const std::string& b);

// Where the saved settings live (for messages and --help).
std::string SavedSettingsPlace();
