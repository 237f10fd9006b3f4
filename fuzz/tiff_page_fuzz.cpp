// A whole document through the reader: header, directory chain, page search, and the decode of
// each of the first pages through the fax or JBIG decoder. Whatever the file holds, a page that
// opens gets at least its height in whole rows, and no more than a strip per row can add. The
// same document goes through the check of its whole structure, which finds at least one
// directory whenever it calls a file whole.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "imaging/tiff_reader.h"
#include "imaging/tiff_structure.h"

namespace {

struct Document {
    const uint8_t* data;
    size_t size;
    uint64_t position;
};

uint32_t ReadDocument(void* file, void* buffer, uint32_t count) {
    auto* d = static_cast<Document*>(file);
    if (d->position >= d->size) return 0;
    uint64_t n = d->size - d->position;
    if (n > count) n = count;
    std::memcpy(buffer, d->data + d->position, n);
    d->position += n;
    return static_cast<uint32_t>(n);
}

int64_t SeekDocument(void* file, uint32_t offset, int origin) {
    auto* d = static_cast<Document*>(file);
    d->position = (origin == 2 ? d->size : origin == 1 ? d->position : 0) + offset;
    return static_cast<int64_t>(d->position);
}

struct Rows {
    uint32_t stride;
    uint64_t delivered;
    uint8_t checksum;
};

void TakeRows(void* context, const uint8_t* bytes, uint32_t count) {
    auto* rows = static_cast<Rows*>(context);
    if (count == 0 || count % rows->stride != 0) __builtin_trap();
    // Touch both ends and a byte of every page of what was handed over, so that the sanitizers
    // see a block handed over shorter than it was said to be.
    for (uint32_t i = 0; i < count; i += 4096) rows->checksum ^= bytes[i];
    rows->checksum ^= bytes[count - 1];
    rows->delivered += count;
}

PageDecodeContext Context;

// Pages larger than this are opened but not decoded: white rows by the million teach nothing.
constexpr uint64_t MaxDecodedBytes = 1u << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Document whole{data, size, 0};
    TiffStructure structure;
    const bool complete = CheckTiffStructure(ReadDocument, SeekDocument, &whole, structure);
    if (complete != (structure.fault == TiffStructureFault::None) || (complete && structure.directories == 0) ||
        structure.directories > MaxTiffDirectories || structure.fileSize != size)
        __builtin_trap();
    for (uint32_t page = 0; page < 3; ++page) {
        Document document{data, size, 0};
        PageInfo info;
        const int described = ReadTiffPageInfo(ReadDocument, SeekDocument, &document, page, info);

        document.position = 0;
        Rows rows{0, 0, 0};
        const uint8_t background = page == 1 ? 0x00 : 0xFF;
        if (!OpenTiffPage(Context, ReadDocument, SeekDocument, &document, TakeRows, &rows, page, background)) {
            if (Context.directory != nullptr) __builtin_trap();
            continue;
        }
        // A page that opens is one that the page information describes the same way.
        if (!described || static_cast<uint32_t>(info.width) != Context.width ||
            static_cast<uint32_t>(info.height) != Context.height) {
            __builtin_trap();
        }
        rows.stride = Context.bytesPerRow;
        const uint64_t pageBytes = static_cast<uint64_t>(Context.height) * Context.bytesPerRow;
        if (pageBytes <= MaxDecodedBytes) {
            DecodeTiffPage(Context);
            if (rows.delivered < pageBytes || rows.delivered > 2 * pageBytes) __builtin_trap();
        }
        CloseTiffPage(Context);
    }
    return 0;
}
