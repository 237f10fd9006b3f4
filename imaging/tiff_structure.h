// Whether a TIFF file is whole: its header, every directory of its chain, every value a
// directory points at and every strip or tile lie within the file. This is what proves that a
// document which came without a length arrived complete, and what an archive checks before it
// keeps a document. It reads through the page I/O operations and never decodes.
#pragma once

#include <cstdint>

#include "imaging/page_io.h"

enum class TiffStructureFault {
    None,
    NotTiff,            // no "II"/"MM" header with 42, or the file is shorter than a header
    NoDirectory,        // the first directory offset is 0
    DirectoryOutside,   // a directory, or its entries, reach past the end of the file
    ValueOutside,       // a value stored out of line reaches past the end of the file
    DataOutside,        // a strip or tile reaches past the end of the file
    NoImageData,        // a directory without strip or tile offsets, or tables of unequal length
    Loop,               // the chain comes back to a directory already read
    TooManyDirectories,
};

struct TiffStructure {
    uint32_t directories = 0;  // directories read, each one page of the document
    uint64_t fileSize = 0;
    TiffStructureFault fault = TiffStructureFault::None;
};

// The most directories one document may chain; far above any real document.
constexpr uint32_t MaxTiffDirectories = 4096;

// Walks the whole structure; true when nothing reaches past the file and there is at least one
// directory. The seek operation must answer the file's size for a seek to the end (origin 2).
bool CheckTiffStructure(ReadOp read, SeekOp seek, void* file, TiffStructure& structure);

// A short English description of a fault, for messages.
const char* TiffStructureFaultText(TiffStructureFault fault);
