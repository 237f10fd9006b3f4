#include "tools/test_source/source_log.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

char DefaultLogPath[MAX_PATH];

void LogPath(char* path, DWORD size)
{
    DWORD length = GetEnvironmentVariableA("QRV_TEST_SOURCE_LOG", path, size);
    if (length == 0 || length >= size)
        snprintf(path, size, "%s", DefaultLogPath);
}

}  // namespace

void SetLogFolder(const char* folder)
{
    snprintf(DefaultLogPath, sizeof DefaultLogPath, "%stest_source.log", folder);
}

// The file is opened for every line, so that a reader sees each line as soon as it is written.
void LogLine(const char* format, ...)
{
    char line[600];
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(line, sizeof line - 2, format, arguments);
    va_end(arguments);
    if (length < 0)
        return;
    if (length > int(sizeof line) - 3)
        length = sizeof line - 3;
    line[length++] = '\r';
    line[length++] = '\n';

    char path[MAX_PATH];
    LogPath(path, sizeof path);
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, line, DWORD(length), &written, nullptr);
    CloseHandle(file);
}
