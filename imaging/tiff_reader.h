// The TIFF document reader: finds a page's image file directory in a downloaded document,
// describes the page and walks its strips through the fax or JBIG decoder into a row sink.
//
// It reads the subset of TIFF 6.0 and TIFF-F/FX that the device's documents use. It never opens
// files: the caller supplies an open file with read and seek operations. Every page comes out as
// 1-bit rows, most significant bit first, padded to 32 bits, white pixels made of the background
// byte's bits.
#pragma once

#include <cstdint>

// JBIG-KIT's header declares C functions without saying so.
extern "C" {
#include <jbig.h>
}

#include "imaging/fax_decoder.h"
#include "imaging/page_io.h"

// One directory entry as the reader keeps it. Values of at most 4 bytes live in `value` (a SHORT
// pair with the first value in the low half); longer ones in `array`, converted to host order.
struct TiffField {
    uint16_t tag = 0;
    uint16_t elementSize = 4;   // 2 (SHORT), 4 (LONG and every other type) or 8 (RATIONAL)
    uint32_t count = 0;
    uint32_t value = 0;
    uint8_t* array = nullptr;   // owned when elementSize * count > 4
};

// The slots of a directory, in table order.
enum TiffSlot {
    SlotNewSubfileType,
    SlotImageWidth,
    SlotImageLength,
    SlotBitsPerSample,
    SlotCompression,
    SlotPhotometric,
    SlotFillOrder,
    SlotStripOffsets,
    SlotOrientation,
    SlotSamplesPerPixel,
    SlotRowsPerStrip,
    SlotStripByteCounts,
    SlotXResolution,
    SlotYResolution,
    SlotT4Options,
    SlotT6Options,
    SlotResolutionUnit,
    SlotPageNumber,
    SlotStripRowCounts,
    TiffSlotCount
};

struct TiffDirectory {
    TiffField fields[TiffSlotCount];
    uint32_t nextOffset = 0;
};

// Decode modes, chosen from Compression and T4Options.
using DecodeMode = int16_t;
constexpr DecodeMode DecodeModeT4OneD = FaxModeT4OneD;
constexpr DecodeMode DecodeModeT6 = FaxModeT6;
constexpr DecodeMode DecodeModeJbig = 2;
constexpr DecodeMode DecodeModeT4TwoD = FaxModeT4TwoD;
constexpr DecodeMode DecodeModeUnsupported = -1;

// A page is refused when its rows would take more memory than this: generous for any real page
// (an A3 sheet at 600 dpi is about 9 MiB), small enough that a hostile size cannot exhaust memory.
constexpr uint64_t MaxPageBytes = 128u * 1024 * 1024;

struct PageDecodeContext {
    DecodeMode mode = DecodeModeUnsupported;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bytesPerRow = 0;
    int16_t xResolution = 0;
    int16_t yResolution = 0;
    uint16_t fillOrder = 1;
    uint16_t photometric = 0xFFFF;  // how a JBIG plane's bits read (see DecodeJbigStrip)
    uint8_t background = 0xFF;
    ReadOp read = nullptr;
    SeekOp seek = nullptr;
    void* file = nullptr;
    uint32_t fileSize = 0;
    RowSink sink = nullptr;
    void* sinkContext = nullptr;
    uint64_t bytesDelivered = 0;    // rows handed to the sink so far, in bytes
    TiffDirectory* directory = nullptr;
    FaxDecoder fax;
    jbg_dec_state jbig;
};

struct PageInfo {
    int32_t width = 0;
    int32_t height = 0;
    int32_t xResolution = 0;
    int32_t yResolution = 0;
};

// Reads the 8-byte header at offset 0: sets the reader's byte order (big-endian only for "MM")
// and learns the file's size. Returns 1 and the first directory's offset, or 0 on a short file.
int ReadTiffHeader(ReadOp read, SeekOp seek, void* file, uint32_t& firstDirectoryOffset);

// Reads a directory at the current file position in the byte order of the last header read.
// Returns nothing when the directory does not lie within the file or memory cannot be had.
TiffDirectory* ReadTiffDirectory(ReadOp read, SeekOp seek, void* file);
void FreeTiffDirectory(TiffDirectory* directory);

// The directory of page pageIndex (0-based), normalised: resolutions in dots per inch and strip
// row counts filled in. Nothing when there is no such page or it cannot be decoded.
TiffDirectory* FindTiffPage(ReadOp read, SeekOp seek, void* file, uint32_t pageIndex);

// Element index of a field (16-bit elements for SHORT, 32-bit otherwise); 0 past its count.
uint32_t TiffFieldValue(const TiffField& field, uint32_t index);

// The decode mode of a page; DecodeModeUnsupported for compressions other than 3, 4 and 9.
DecodeMode ChooseDecodeMode(const TiffDirectory& directory);

int OpenTiffPage(PageDecodeContext& context, ReadOp read, SeekOp seek, void* file, RowSink sink,
                 void* sinkContext, uint32_t pageIndex, uint8_t background);
// Delivers at least the page's height in rows, top row first; rows no strip covers are white.
int DecodeTiffPage(PageDecodeContext& context);
void CloseTiffPage(PageDecodeContext& context);

// Width, height and resolutions of page pageIndex (0-based) without decoding it.
int ReadTiffPageInfo(ReadOp read, SeekOp seek, void* file, uint32_t pageIndex, PageInfo& info);

// Hand bytes of whole rows to the page's sink and count them.
void DeliverRows(PageDecodeContext& context, const uint8_t* bytes, uint32_t count);
void DeliverBackgroundRows(PageDecodeContext& context, uint32_t rows);
