#include "tools/twain_manager/source_discovery.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The folder installed sources live in below the Windows folder.
#ifdef _WIN64
constexpr const char* SystemSourceFolder = "twain_64";
#else
constexpr const char* SystemSourceFolder = "twain_32";
#endif
constexpr const char* TestSourcesVariable = "QRV_TWAIN_SOURCES";
// "0" leaves the system's folder out: tests that bring their own sources need not wait for the
// installed ones to load.
constexpr const char* SystemSourcesVariable = "QRV_TWAIN_SYSTEM_SOURCES";
constexpr int MaxFolderDepth = 8;

bool LessIgnoringCase(const std::string& a, const std::string& b)
{
    return _stricmp(a.c_str(), b.c_str()) < 0;
}

bool HasDsExtension(const char* name)
{
    size_t length = strlen(name);
    return length > 3 && _stricmp(name + length - 3, ".ds") == 0;
}

// Every *.ds below folder (which ends with a backslash), sorted by name within each folder so
// that the order does not depend on the file system.
void CollectSourceFiles(const std::string& folder, int depth, std::vector<std::string>& files)
{
    if (depth > MaxFolderDepth)
        return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    std::vector<std::string> here, folders;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0)
                folders.push_back(found.cFileName);
        } else if (HasDsExtension(found.cFileName)) {
            here.push_back(found.cFileName);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(here.begin(), here.end(), LessIgnoringCase);
    std::sort(folders.begin(), folders.end(), LessIgnoringCase);
    for (const std::string& name : here)
        files.push_back(folder + name);
    for (const std::string& name : folders)
        CollectSourceFiles(folder + name + "\\", depth + 1, files);
}

std::string WithBackslash(std::string folder)
{
    if (!folder.empty() && folder.back() != '\\' && folder.back() != '/')
        folder += '\\';
    return folder;
}

// The folders to search: the test folders first, so that tests see their own sources first,
// then the system's.
std::vector<std::string> SourceRoots()
{
    std::vector<std::string> roots;
    char value[4096];
    DWORD length = GetEnvironmentVariableA(TestSourcesVariable, value, sizeof value);
    if (length > 0 && length < sizeof value) {
        std::string list(value);
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find(';', start);
            if (end == std::string::npos)
                end = list.size();
            if (end > start)
                roots.push_back(WithBackslash(list.substr(start, end - start)));
            start = end + 1;
        }
    }
    char system[8];
    length = GetEnvironmentVariableA(SystemSourcesVariable, system, sizeof system);
    if (length > 0 && length < sizeof system && strcmp(system, "0") == 0)
        return roots;
    char windows[MAX_PATH];
    UINT windowsLength = GetWindowsDirectoryA(windows, sizeof windows);
    if (windowsLength > 0 && windowsLength < sizeof windows)
        roots.push_back(WithBackslash(windows) + SystemSourceFolder + "\\");
    return roots;
}

std::string FullPath(const std::string& path)
{
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full)
        return path;
    return full;
}

// Loads the source, asks its identity with a temporary copy of the application's identity as
// origin, and unloads it again.
bool AskIdentity(const std::string& path, TW_IDENTITY& identity)
{
    HMODULE module;
    DSENTRYPROC entry;
    if (!LoadSourceModule(path.c_str(), module, entry))
        return false;
    TW_IDENTITY origin = Session.app;
    memset(&identity, 0, sizeof identity);
    TW_UINT16 result = entry(&origin, DG_CONTROL, DAT_IDENTITY, MSG_GET, &identity);
    FreeLibrary(module);
    identity.Id = 0;
    identity.ProductName[sizeof identity.ProductName - 1] = 0;
    identity.Manufacturer[sizeof identity.Manufacturer - 1] = 0;
    identity.ProductFamily[sizeof identity.ProductFamily - 1] = 0;
    identity.Version.Info[sizeof identity.Version.Info - 1] = 0;
    return result == TWRC_SUCCESS;
}

}  // namespace

bool LoadSourceModule(const char* path, HMODULE& module, DSENTRYPROC& entry)
{
    // A source that cannot be loaded must not bring up the system's error box.
    UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    module = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    SetErrorMode(previousMode);
    if (!module)
        return false;
    entry = reinterpret_cast<DSENTRYPROC>(GetProcAddress(module, "DS_Entry"));
    if (!entry) {
        FreeLibrary(module);
        module = nullptr;
        return false;
    }
    return true;
}

void ScanSources()
{
    std::vector<std::string> files;
    for (const std::string& root : SourceRoots())
        CollectSourceFiles(root, 0, files);

    KnownSourceCount = 0;
    std::vector<std::string> seen;
    for (const std::string& file : files) {
        if (KnownSourceCount == MaxKnownSources)
            break;
        std::string full = FullPath(file);
        if (full.size() >= MAX_PATH)
            continue;
        bool duplicate = std::any_of(seen.begin(), seen.end(), [&](const std::string& other) {
            return _stricmp(other.c_str(), full.c_str()) == 0;
        });
        if (duplicate)
            continue;
        seen.push_back(full);
        KnownSource& known = KnownSources[KnownSourceCount];
        if (!AskIdentity(full, known.identity))
            continue;
        strcpy(known.path, full.c_str());
        ++KnownSourceCount;
    }
    SourcesScanned = true;
}

void EnsureSourcesScanned()
{
    if (!SourcesScanned)
        ScanSources();
}

const KnownSource* FindKnownSource(const TW_IDENTITY& wanted)
{
    for (int i = 0; i < KnownSourceCount; ++i)
        if (strncmp(KnownSources[i].identity.ProductName, wanted.ProductName,
                    sizeof wanted.ProductName) == 0)
            return &KnownSources[i];
    return nullptr;
}

const KnownSource* DefaultKnownSource()
{
    if (KnownSourceCount == 0)
        return nullptr;
    for (int i = 0; i < KnownSourceCount; ++i)
        if (_stricmp(KnownSources[i].path, DefaultSourcePath) == 0)
            return &KnownSources[i];
    return &KnownSources[0];
}
