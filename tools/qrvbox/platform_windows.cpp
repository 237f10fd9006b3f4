#include "tools/qrvbox/platform.h"

#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdlib>
#include <filesystem>

namespace {

volatile LONG InterruptSeen = 0;
DWORD MainThread = 0;

std::wstring Wide(const std::string& utf8) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
    return wide;
}

std::string Utf8(const wchar_t* wide, int length = -1) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, wide, length, text.data(), size, nullptr, nullptr);
    if (length < 0 && !text.empty()) text.pop_back();  // the terminator
    return text;
}

std::filesystem::path FsPath(const std::string& utf8) { return std::filesystem::path(Wide(utf8)); }

// The protocol library treats a WM_QUIT during a request as a cancel: that is how an interrupt
// reaches a request in progress on the main thread.
BOOL WINAPI NoteInterrupt(DWORD) {
    InterlockedExchange(&InterruptSeen, 1);
    PostThreadMessageA(MainThread, WM_QUIT, 0, 0);
    return TRUE;
}

HANDLE HandleOf(FILE* stream) { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))); }

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return GetFileType(handle) == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode);
}

bool ReadConsoleLine(HANDLE input, std::string& line) {
    std::wstring text;
    wchar_t buffer[256];
    for (;;) {
        DWORD read = 0;
        if (!ReadConsoleW(input, buffer, 256, &read, nullptr) || read == 0) break;
        text.append(buffer, read);
        if (text.find(L'\n') != std::wstring::npos) break;
    }
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
    line = Utf8(text.c_str(), static_cast<int>(text.size()));
    return true;
}

}  // namespace

std::vector<std::string> ProgramArguments(int, char**) {
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; wide && i < count; ++i) arguments.push_back(Utf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

void PrepareConsole() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

bool WriteText(FILE* stream, const std::string& utf8) {
    HANDLE handle = HandleOf(stream);
    if (IsConsole(handle)) {
        std::fflush(stream);
        const std::wstring wide = Wide(utf8);
        DWORD written = 0;
        return WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr) != 0;
    }
    return std::fwrite(utf8.data(), 1, utf8.size(), stream) == utf8.size() && std::fflush(stream) == 0;
}

bool EnvironmentValue(const char* name, std::string& value) {
    const wchar_t* text = _wgetenv(Wide(name).c_str());
    if (!text) return false;
    value = Utf8(text);
    return true;
}

void WatchInterrupts() {
    MainThread = GetCurrentThreadId();
    MSG message;
    PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // the thread's message queue
    SetConsoleCtrlHandler(NoteInterrupt, TRUE);
}

bool Interrupted() { return InterruptSeen != 0; }

bool IsTerminal(FILE* stream) { return IsConsole(HandleOf(stream)); }

bool ReadSecret(const char* prompt, std::string& line) {
    HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE) return false;
    DWORD mode = 0;
    const bool console = GetConsoleMode(input, &mode);
    if (console) {
        WriteText(stderr, prompt);
        SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
        ReadConsoleLine(input, line);
        SetConsoleMode(input, mode);
        WriteText(stderr, "\n");
    }
    CloseHandle(input);
    return console;
}

bool ReadAnswer(const char* prompt, std::string& line) {
    WriteText(stderr, prompt);
    HANDLE input = HandleOf(stdin);
    if (IsConsole(input)) return ReadConsoleLine(input, line);
    line.clear();
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n') line += static_cast<char>(c);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return c != EOF || !line.empty();
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '\\' || folder.back() == '/' ? folder + name : folder + "\\" + name;
}

FILE* OpenFile(const std::string& path, const char* mode) { return _wfopen(Wide(path).c_str(), Wide(mode).c_str()); }

bool FileExists(const std::string& path) { return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

bool MakeFolders(const std::string& path, std::string& problem) {
    std::error_code error;
    std::filesystem::create_directories(FsPath(path), error);
    if (std::filesystem::is_directory(FsPath(path), error)) return true;
    problem = error ? error.message() : "not a folder";
    return false;
}

std::vector<std::string> FolderEntries(const std::string& path) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(Wide(JoinPath(path, "*")).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0)
            names.push_back(Utf8(found.cFileName));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

bool RemoveFile(const std::string& path) {
    return DeleteFileW(Wide(path).c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool RemoveEmptyFolder(const std::string& path) { return RemoveDirectoryW(Wide(path).c_str()) != 0; }

bool SyncFile(FILE* file) { return std::fflush(file) == 0 && FlushFileBuffers(HandleOf(file)); }

// A rename made with MOVEFILE_WRITE_THROUGH is on the disk when it returns.
bool SyncFolder(const std::string&) { return true; }

bool RenameNew(const std::string& from, const std::string& to, bool& targetExists) {
    targetExists = false;
    if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_WRITE_THROUGH)) return true;
    targetExists = GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS;
    return false;
}

bool RenameReplacing(const std::string& from, const std::string& to) {
    return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

FolderLock::~FolderLock() {
    if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

// Opened without sharing and deleted when closed: a second run cannot open it while this one
// holds it, and it goes with the process however that ends.
bool FolderLock::Take(const std::string& path) {
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    path_ = path;
    handle_ = reinterpret_cast<intptr_t>(file);
    return true;
}

// Windows keeps access rights in access control lists, not in owner bits: the file's folder
// decides who may read it. The file must still be a readable regular file.
bool OwnerOnlyFile(const std::string& path, std::string& problem) {
    const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        problem = "no such file";
        return false;
    }
    return true;
}

int CompareTextsIgnoringCase(const std::string& a, const std::string& b) {
    const int order = lstrcmpiW(Wide(a).c_str(), Wide(b).c_str());
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}
