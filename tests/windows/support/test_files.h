// Folders, files and registry keys that a Windows test makes and removes again.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Folder of the running test executable, with a trailing backslash.
std::string ExeFolder();
// Folder where the build puts the shipped binaries (qrvkbx.ds, qrvkbxr.dll, ...).
std::string BinFolder();
// Folder of the binaries that only tests use (build/<preset>/tests/data/).
std::string TestDataFolder();

bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
std::string ReadFileText(const std::string& path);
void WriteFileText(const std::string& path, const std::string& text);
// Names of the files and folders in a folder (path ends with a backslash), sorted.
std::vector<std::string> FilesIn(const std::string& folder);
bool CopyInto(const std::string& file, const std::string& folder, const std::string& newName = "");

// A fresh folder under the temporary path, removed with everything in it at the end.
class TempFolder {
public:
    explicit TempFolder(const char* prefix = "qt");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }  // ends with a backslash
    std::string operator/(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

void RemoveTree(const std::string& folder);

// A registry key tree removed (with its sub-keys) when the object ends.
class ScopedRegistryTree {
public:
    ScopedRegistryTree(HKEY root, std::string path);
    ~ScopedRegistryTree();
    ScopedRegistryTree(const ScopedRegistryTree&) = delete;
    ScopedRegistryTree& operator=(const ScopedRegistryTree&) = delete;

private:
    HKEY root_;
    std::string path_;
};

void SetRegistryString(HKEY root, const std::string& path, const char* name, const std::string& value);
// Reads a string value; returns false when the key or the value is missing.
bool GetRegistryString(HKEY root, const std::string& path, const char* name, std::string& value);
