// Pages as BMP files: a native transfer's DIB behind a file header, and memory strips (top row
// first, rows of BytesPerRow bytes, RGB order) assembled into a bottom-up BMP. File transfers
// leave the file as the source wrote it, BMP or TIFF.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "source/twain.h"

// Checks the DIB against its global block and writes it as a BMP file; false with error set.
bool WriteDibAsBmp(HGLOBAL dib, const std::string& path, std::string& error);

// True when the file exists and starts like a BMP file, or a TIFF file.
bool IsBmpFile(const std::string& path);
bool IsTiffFile(const std::string& path);

struct MemoryPage {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    bool vanilla = false;   // 0 is white (ICAP_PIXELFLAVOR TWPF_VANILLA)
    uint32_t packedRowBytes = 0;
    uint32_t bmpRowBytes = 0;
    std::vector<uint8_t> pixels;  // BMP rows, bottom-up
    std::vector<uint8_t> received;  // per row, from the top
};

// Prepares a page described by DAT_IMAGEINFO; false with error set for what cannot be written.
bool BeginMemoryPage(MemoryPage& page, const TW_IMAGEINFO& info, bool vanilla, std::string& error);
// Takes one strip whose rows sit at the start of buffer (bufferSize bytes long).
bool AddStrip(MemoryPage& page, const TW_IMAGEMEMXFER& strip, const uint8_t* buffer,
              uint32_t bufferSize, std::string& error);
// Writes the page once every row has arrived.
bool WriteMemoryPage(const MemoryPage& page, int resolution, const std::string& path,
                     std::string& error);
