#include "imaging/windows/page_file_io.h"

#include <windows.h>

uint32_t PageFileRead(void* file, void* buffer, uint32_t count)
{
    DWORD read = 0;
    if (!ReadFile(static_cast<HANDLE>(file), buffer, count, &read, nullptr))
        return 0;
    return read;
}

int64_t PageFileSeek(void* file, uint32_t offset, int origin)
{
    // The offset is unsigned: positions up to 4 GiB, never a negative move.
    LONG high = 0;
    SetLastError(NO_ERROR);
    DWORD position = SetFilePointer(static_cast<HANDLE>(file), static_cast<LONG>(offset), &high,
                                    static_cast<DWORD>(origin));
    if (position == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        return -1;
    return static_cast<int64_t>(static_cast<uint64_t>(static_cast<DWORD>(high)) << 32 | position);
}

void PageFileWrite(void* file, const uint8_t* bytes, uint32_t count)
{
    DWORD written = 0;
    WriteFile(static_cast<HANDLE>(file), bytes, count, &written, nullptr);
}

int GetTiffPageInfo(const char* documentPath, int page, PageInfo& info)
{
    if (!documentPath || documentPath[0] == '\0' || page < 1)
        return 0;
    HANDLE file = CreateFileA(documentPath, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    int found = ReadTiffPageInfo(PageFileRead, PageFileSeek, file, static_cast<uint32_t>(page - 1), info);
    CloseHandle(file);
    return found;
}
