// The check a document passes before it is kept as archived (and before anything is deleted on
// the device): the whole TIFF structure lies within the file, every page is found and decodes
// through the source's own reader and decoders, and the file holds as many pages as the device
// lists for it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Read and seek operations on a FILE, for the reader and the structure check.
uint32_t ReadFromFile(void* file, void* buffer, uint32_t count);
int64_t SeekInFile(void* file, uint32_t offset, int origin);

// True when the file passes; else false with the reason. listedPages is the device's PAGES.
bool CheckDocumentFile(const std::string& path, int32_t listedPages, std::string& problem);
