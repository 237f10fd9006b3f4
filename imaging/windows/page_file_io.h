// The file operations the page decoders work through, on Win32 file handles, and the page
// description read without decoding. Failures are recorded with the message presentation, which
// shows nothing for them: the caller decides what the user hears.
#pragma once

#include <cstdint>

#include "imaging/tiff_reader.h"

// ReadFile; on failure message 331 "ReadFile ERROR". Returns the bytes read.
uint32_t PageFileRead(void* file, void* buffer, uint32_t count);
// SetFilePointer with the given origin; returns the new position, or -1 with message 332
// "SetFilePointer ERROR".
int64_t PageFileSeek(void* file, uint32_t offset, int origin);
// WriteFile, as the decoders' row sink with the file as context; on failure message 330
// "WriteFile ERROR".
void PageFileWrite(void* file, const uint8_t* bytes, uint32_t count);

// Width, height and resolutions of page (counted from 1) of a document file, without decoding.
// Returns 0 for an empty path, a file that cannot be opened or a page that is not there; shows
// no message.
int GetTiffPageInfo(const char* documentPath, int page, PageInfo& info);
