#include "tools/qrvbox/document_check.h"

#include "imaging/tiff_reader.h"
#include "imaging/tiff_structure.h"
#include "tools/qrvbox/platform.h"

uint32_t ReadFromFile(void* file, void* buffer, uint32_t count) {
    return static_cast<uint32_t>(std::fread(buffer, 1, count, static_cast<FILE*>(file)));
}

int64_t SeekInFile(void* file, uint32_t offset, int origin) {
    auto* stream = static_cast<FILE*>(file);
    const int whence = origin == 2 ? SEEK_END : origin == 1 ? SEEK_CUR : SEEK_SET;
    if (std::fseek(stream, static_cast<long>(offset), whence) != 0) return -1;
    return std::ftell(stream);
}

bool CheckDocumentFile(const std::string& path, int32_t listedPages, std::string& problem) {
    FILE* file = OpenFile(path, "rb");
    if (!file) {
        problem = "the file cannot be read";
        return false;
    }
    TiffStructure structure;
    bool good = CheckTiffStructure(ReadFromFile, SeekInFile, file, structure);
    if (!good) problem = std::string("its TIFF structure is broken: ") + TiffStructureFaultText(structure.fault);
    if (good && listedPages != static_cast<int64_t>(structure.directories)) {
        problem = "it holds " + std::to_string(structure.directories) + " pages, the device lists " +
                  std::to_string(listedPages);
        good = false;
    }
    // Every page through the reader and its decoder, the rows themselves not kept.
    static PageDecodeContext context;  // large: off the stack
    for (uint32_t page = 0; good && page < structure.directories; ++page) {
        good = OpenTiffPage(context, ReadFromFile, SeekInFile, file, nullptr, nullptr, page, 0xFF) == 1;
        if (good) {
            good = DecodeTiffPage(context) == 1;
            CloseTiffPage(context);
        }
        if (!good) problem = "page " + std::to_string(page + 1) + " cannot be decoded";
    }
    std::fclose(file);
    return good;
}
