#include "tools/qrvbox/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>

namespace {

volatile sig_atomic_t InterruptSeen = 0;

void NoteInterrupt(int) { InterruptSeen = 1; }

bool ReadLine(FILE* in, std::string& line) {
    line.clear();
    int c;
    while ((c = std::fgetc(in)) != EOF && c != '\n') line += static_cast<char>(c);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return c != EOF || !line.empty();
}

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

void PrepareConsole() {}

bool WriteText(FILE* stream, const std::string& utf8) {
    return std::fwrite(utf8.data(), 1, utf8.size(), stream) == utf8.size() && std::fflush(stream) == 0;
}

bool EnvironmentValue(const char* name, std::string& value) {
    const char* text = std::getenv(name);
    if (!text) return false;
    value = text;
    return true;
}

void WatchInterrupts() {
    struct sigaction action {};
    action.sa_handler = NoteInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    // A closed output pipe is an error of the write, not the end of the process.
    signal(SIGPIPE, SIG_IGN);
}

bool Interrupted() { return InterruptSeen != 0; }

bool IsTerminal(FILE* stream) { return isatty(fileno(stream)) == 1; }

bool ReadSecret(const char* prompt, std::string& line) {
    FILE* terminal = std::fopen("/dev/tty", "r+");
    if (!terminal) return false;
    std::fputs(prompt, terminal);
    std::fflush(terminal);
    termios saved {};
    const bool quiet = tcgetattr(fileno(terminal), &saved) == 0;
    if (quiet) {
        termios silent = saved;
        silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(fileno(terminal), TCSAFLUSH, &silent);
    }
    const bool read = ReadLine(terminal, line);
    if (quiet) tcsetattr(fileno(terminal), TCSAFLUSH, &saved);
    std::fputs("\n", terminal);
    std::fclose(terminal);
    return read;
}

bool ReadAnswer(const char* prompt, std::string& line) {
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    return ReadLine(stdin, line);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

FILE* OpenFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

bool FileExists(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0;
}

bool MakeFolders(const std::string& path, std::string& problem) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (std::filesystem::is_directory(path)) return true;
    problem = error ? error.message() : "not a folder";
    return false;
}

std::vector<std::string> FolderEntries(const std::string& path) {
    std::vector<std::string> names;
    DIR* folder = opendir(path.c_str());
    if (!folder) return names;
    while (dirent* entry = readdir(folder)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    }
    closedir(folder);
    return names;
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0 || errno == ENOENT; }

bool RemoveEmptyFolder(const std::string& path) { return rmdir(path.c_str()) == 0; }

bool SyncFile(FILE* file) { return std::fflush(file) == 0 && fsync(fileno(file)) == 0; }

bool SyncFolder(const std::string& path) {
    const int folder = open(path.c_str(), O_RDONLY | O_DIRECTORY);
    if (folder < 0) return false;
    const bool synced = fsync(folder) == 0;
    close(folder);
    return synced;
}

// A second name for the file (refused when the name is taken), then the first name goes: the
// file is never absent and never replaces another.
bool RenameNew(const std::string& from, const std::string& to, bool& targetExists) {
    targetExists = false;
    if (link(from.c_str(), to.c_str()) != 0) {
        targetExists = errno == EEXIST;
        return false;
    }
    unlink(from.c_str());
    return true;
}

bool RenameReplacing(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

FolderLock::~FolderLock() {
    if (handle_ >= 0) {
        unlink(path_.c_str());
        close(static_cast<int>(handle_));
    }
}

bool FolderLock::Take(const std::string& path) {
    // A lock on a file that its last holder unlinked meanwhile locks nothing: try again on the
    // file that the name now stands for.
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int file = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (file < 0) return false;
        if (flock(file, LOCK_EX | LOCK_NB) != 0) {
            close(file);
            return false;
        }
        struct stat held {}, named {};
        if (fstat(file, &held) == 0 && stat(path.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev) {
            path_ = path;
            handle_ = file;
            return true;
        }
        close(file);
    }
    return false;
}

bool OwnerOnlyFile(const std::string& path, std::string& problem) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        problem = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        problem = "not a regular file";
        return false;
    }
    if (status.st_uid != geteuid()) {
        problem = "it belongs to another user";
        return false;
    }
    if (status.st_mode & (S_IRWXG | S_IRWXO)) {
        problem = "its group or others may access it (chmod 600 it)";
        return false;
    }
    return true;
}

int CompareTextsIgnoringCase(const std::string& a, const std::string& b) {
    const int order = strcasecmp(a.c_str(), b.c_str());
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

std::string SavedSettingsPlace() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/') return std::string(config) + "/qrvbox/config";
    const char* home = std::getenv("HOME");
    return std::string(home && home[0] ? home : ".") + "/.config/qrvbox/config";
}
