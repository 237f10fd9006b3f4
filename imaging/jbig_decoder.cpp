#include "imaging/jbig_decoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t JbigHeaderBytes = 20;
constexpr uint32_t MaxChunkBytes = 0x100000;   // rows go to the sink in pieces of at most 1 MiB

uint32_t BigEndian32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

// JBIG-KIT allocates every plane as soon as it has read a header, ends the process when it
// cannot, and decodes every pixel it was promised. So a header is handed to it only when its
// planes are of the page's order of size: twice the page, a little more for tiny pages.
bool HeaderFitsPage(const uint8_t* header, const PageDecodeContext& context) {
    const uint64_t pageBytes = static_cast<uint64_t>(context.height) * context.bytesPerRow;
    const uint64_t limit = std::min<uint64_t>(MaxPageBytes, 2 * pageBytes + 0x10000);
    const uint64_t planes = header[2];
    const uint64_t width = BigEndian32(header + 4);
    const uint64_t height = BigEndian32(header + 8);
    // The full plane and the half-resolution one beside it.
    const uint64_t perPlane = height * ((width + 7) >> 3) + ((height + 1) >> 1) * ((width + 15) >> 4);
    return perPlane <= limit && planes * perPlane <= limit;
}

// How a plane's white pixels read. JBIG data is the raw plane, in which a 1-bit is black; a file
// that declares PhotometricInterpretation 1 (BlackIsZero) stores white as 1-bits instead. Passing
// the plane on unchanged would give a negative of the page for the usual WhiteIsZero files, so
// the plane is flipped wherever its white differs from the page's background.
uint8_t PlaneWhiteByte(uint16_t photometric) {
    return photometric == 1 ? 0xFF : 0x00;
}

// JBIG-KIT takes an adaptive-template move to any offset up to MX, but reads the moved pixel by
// shifting a row word by the offset less the template's own reach: an offset inside the template
// (below 3, or below 5 with the two-line template) is invalid data it would shift by a negative
// count, and in a differential layer an offset past a 32-bit word (above 34) one it would shift
// past the word's width. The strip ends before such a move: the rows before it decode, the rest
// stay white. Marker segments are walked as the decoder walks them; inside coded data a 0xFF is
// always a marker's first byte.
uint32_t BytesBeforeBadMove(const uint8_t* strip, uint32_t length) {
    if (length < JbigHeaderBytes) return length;
    const uint8_t options = strip[19];
    const int lowestOffset = (options & JBG_LRLTWO) ? 5 : 3;
    const bool differentialLayers = strip[1] > 0;   // D, the highest layer
    const int highestOffset = differentialLayers ? 34 : 127;
    uint64_t at = JbigHeaderBytes;
    if ((options & (JBG_DPON | JBG_DPPRIV | JBG_DPLAST)) == (JBG_DPON | JBG_DPPRIV)) at += 1728;  // DPTABLE
    while (at + 1 < length) {
        if (strip[at] != 0xFF) {
            ++at;
            continue;
        }
        switch (strip[at + 1]) {
        case 0x00:   // a stuffed 0xFF of the coded data
        case 0x02:   // SDNORM
        case 0x03:   // SDRST
        case 0x04:   // ABORT
            at += 2;
            break;
        case 0x05:   // NEWLEN: the new height
            at += 6;
            break;
        case 0x06: {  // ATMOVE: the line, then the offsets
            if (at + 8 > length) return length;
            const int offset = static_cast<int8_t>(strip[at + 6]);
            if (offset > 0 && (offset < lowestOffset || offset > highestOffset)) return static_cast<uint32_t>(at);
            at += 8;
            break;
        }
        case 0x07:   // COMMENT: its length, then that many bytes
            if (at + 6 > length) return length;
            at += 6 + static_cast<uint64_t>(BigEndian32(strip + at + 2));
            break;
        default:     // the decoder stops at an unknown marker itself
            return length;
        }
    }
    return length;
}

// Feeds the rest of the strip until JBIG-KIT has the whole image, fails, or takes nothing more.
void FeedStrip(jbg_dec_state& state, uint8_t* data, size_t length) {
    while (length > 0) {
        size_t used = 0;
        const int result = jbg_dec_in(&state, data, length, &used);
        used = std::min(used, length);
        data += used;
        length -= used;
        if (result != JBG_EAGAIN || used == 0) break;
    }
}

void DeliverPlane(PageDecodeContext& context, const uint8_t* plane, uint64_t planeWidth,
                  uint64_t planeHeight, uint64_t planeSize, uint32_t rows) {
    const uint64_t planeRowBytes = (planeWidth + 7) / 8;
    if (planeRowBytes == 0) return;
    planeHeight = std::min(planeHeight, planeSize / planeRowBytes);
    const auto outRows = static_cast<uint32_t>(std::min<uint64_t>(rows, planeHeight));
    if (outRows == 0) return;

    const uint32_t stride = context.bytesPerRow;
    const uint8_t background = context.background;
    const uint8_t flip = PlaneWhiteByte(context.photometric) ^ background;
    // Pixels past the page's width or the plane's are background; a wider plane is cut.
    const auto keptBits = static_cast<uint32_t>(std::min<uint64_t>(planeWidth, context.width));
    const uint32_t wholeBytes = keptBits / 8;
    const uint32_t partialBits = keptBits % 8;
    const auto partialMask = static_cast<uint8_t>(0xFF00 >> partialBits);

    const uint32_t chunkRows = std::max<uint32_t>(1, MaxChunkBytes / stride);
    auto* chunk = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(std::min(outRows, chunkRows)) * stride));
    if (chunk == nullptr) return;
    for (uint32_t done = 0; done < outRows;) {
        const uint32_t n = std::min(outRows - done, chunkRows);
        for (uint32_t r = 0; r < n; ++r) {
            const uint8_t* in = plane + (done + r) * planeRowBytes;
            uint8_t* out = chunk + static_cast<size_t>(r) * stride;
            uint32_t b = 0;
            for (; b < wholeBytes; ++b) out[b] = in[b] ^ flip;
            if (partialBits != 0) {
                out[b] = static_cast<uint8_t>(((in[b] ^ flip) & partialMask) | (background & ~partialMask));
                ++b;
            }
            std::memset(out + b, background, stride - b);
        }
        DeliverRows(context, chunk, n * stride);
        done += n;
    }
    std::free(chunk);
}

}  // namespace

void DecodeJbigStrip(PageDecodeContext& context, uint32_t byteCount, uint32_t rows) {
    jbg_dec_init(&context.jbig);
    auto* strip = static_cast<uint8_t*>(std::malloc(std::max<uint32_t>(byteCount, 1)));
    if (strip == nullptr) {
        jbg_dec_free(&context.jbig);
        return;
    }
    const uint32_t length = BytesBeforeBadMove(strip, std::min(context.read(context.file, strip, byteCount), byteCount));

    // The header goes in alone first. Once JBIG-KIT has taken it the plane exists; it is blanked
    // to white so that rows a damaged strip never reaches come out white, not as stale memory.
    bool planeMade = false;
    if (length >= JbigHeaderBytes && HeaderFitsPage(strip, context)) {
        size_t used = 0;
        if (jbg_dec_in(&context.jbig, strip, JbigHeaderBytes, &used) == JBG_EAGAIN &&
            used == JbigHeaderBytes) {
            planeMade = true;
            if (uint8_t* image = jbg_dec_getimage(&context.jbig, 0)) {
                std::memset(image, PlaneWhiteByte(context.photometric), jbg_dec_getsize(&context.jbig));
            }
            FeedStrip(context.jbig, strip + JbigHeaderBytes, length - JbigHeaderBytes);
        }
    }
    std::free(strip);

    if (planeMade) {
        if (const uint8_t* plane = jbg_dec_getimage(&context.jbig, 0)) {
            DeliverPlane(context, plane, jbg_dec_getwidth(&context.jbig), jbg_dec_getheight(&context.jbig),
                         jbg_dec_getsize(&context.jbig), rows);
        }
    }
    jbg_dec_free(&context.jbig);
}
