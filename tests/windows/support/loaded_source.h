// The shipped qrvkbx.ds, copied into a folder of its own with an INI file (and, when asked,
// the resource module) and loaded as a manager loads it: tests drive it through DS_Entry.
#pragma once

#include <windows.h>

#include <string>

#include "source/twain.h"
#include "tests/windows/support/test_files.h"

struct SourceInstall {
    std::string ini = "[TWAIN]\r\nDriverName=Test Orvel Source\r\n";  // empty: no INI file
    bool withResourceModule = true;
};

class LoadedSource {
public:
    explicit LoadedSource(const SourceInstall& install = SourceInstall());
    ~LoadedSource();
    LoadedSource(const LoadedSource&) = delete;
    LoadedSource& operator=(const LoadedSource&) = delete;

    bool Load();    // false when the loader refused the module
    void Unload();
    bool loaded() const { return module_ != nullptr; }
    const TempFolder& folder() const { return folder_; }

    // Calls DS_Entry with the test application's identity as origin.
    TW_UINT16 Call(TW_UINT32 group, TW_UINT16 argumentType, TW_UINT16 message, void* data);
    TW_UINT16 CallFrom(TW_IDENTITY* origin, TW_UINT32 group, TW_UINT16 argumentType,
                       TW_UINT16 message, void* data);
    // DAT_STATUS, as an application reads it after a failure.
    TW_UINT16 Status();
    // Opens the source as the manager does (MSG_OPENDS with the source's identity and an Id).
    TW_UINT16 Open();

    TW_IDENTITY app{};

private:
    TempFolder folder_;
    HMODULE module_ = nullptr;
    DSENTRYPROC entry_ = nullptr;
};
