#include "device/protocol_library/tiff_extent.h"

#include <windows.h>

#include "imaging/tiff_structure.h"

namespace {

uint32_t ReadHandle(void* file, void* buffer, uint32_t count)
{
    DWORD read = 0;
    return ReadFile(static_cast<HANDLE>(file), buffer, count, &read, nullptr) ? read : 0;
}

// The structure check asks for the file's size by a seek to its end.
int64_t SeekHandle(void* file, uint32_t offset, int origin)
{
    LARGE_INTEGER move, at;
    move.QuadPart = origin == FILE_END ? 0 : static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(static_cast<HANDLE>(file), move, &at, origin == FILE_END ? FILE_END : FILE_BEGIN))
        return -1;
    return at.QuadPart;
}

}  // namespace

bool TiffFileIsWhole(const std::string& path)
{
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    TiffStructure structure;
    bool whole = CheckTiffStructure(ReadHandle, SeekHandle, handle, structure);
    CloseHandle(handle);
    return whole;
}
