// The file operations the page decoders work through, on Win32 file handles, and the page
// description read without decoding. A failure shows nothing: it comes back as a short count or
// -1, and the caller decides what the user hears.
#pragma once

#include <cstdint>

#include "imaging/tiff_reader.h"

// ReadFile; returns the bytes read, 0 on failure.
uint32_t PageFileRead(void* file, void* buffer, uint32_t count);
// SetFilePointer with the given origin; returns the new position, or -1 on failure.
int64_t PageFileSeek(void* file, uint32_t offset, int origin);
// WriteFile, as the decoders' row sink with the file as context; a failed write leaves the file
// short, which the reader of the file finds.
void PageFileWrite(void* file, const uint8_t* bytes, uint32_t count);

// Width, height and resolutions of page (counted from 1) of a document file, without decoding.
// Returns 0 for an empty path, a file that cannot be opened or a page that is not there; shows
// no message.
int GetTiffPageInfo(const char* documentPath, int page, PageInfo& info);
