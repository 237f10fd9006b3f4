// Pages per second of the reader and its fax decoder against libtiff's decoder, on the eight
// ITU-T test pages coded as T.6 and as T.4 two-dimensional, in one run. Both work from the
// same bytes in memory, open the document, and decode every strip of the page into a page
// buffer. Prints one line per coding with both figures and their ratio. Time is the process's CPU
// time, so that other work on a shared machine does not count for either; the two alternate in
// short rounds and each keeps its best.
// usage: decode_bench [documents dir] [seconds per measurement]
#include <tiffio.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "imaging/tiff_reader.h"

namespace {

using Document = std::vector<uint8_t>;

struct Memory {
    const Document* bytes;
    uint64_t position;
};

uint32_t OurRead(void* file, void* buffer, uint32_t count) {
    auto* m = static_cast<Memory*>(file);
    if (m->position >= m->bytes->size()) return 0;
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(count, m->bytes->size() - m->position));
    std::memcpy(buffer, m->bytes->data() + m->position, n);
    m->position += n;
    return n;
}

int64_t OurSeek(void* file, uint32_t offset, int origin) {
    auto* m = static_cast<Memory*>(file);
    m->position = (origin == 2 ? m->bytes->size() : origin == 1 ? m->position : 0) + offset;
    return static_cast<int64_t>(m->position);
}

struct PageBuffer {
    std::vector<uint8_t> bytes;
    size_t filled;
};

void KeepRows(void* context, const uint8_t* rows, uint32_t count) {
    auto* page = static_cast<PageBuffer*>(context);
    const size_t n = std::min<size_t>(count, page->bytes.size() - page->filled);
    std::memcpy(page->bytes.data() + page->filled, rows, n);
    page->filled += n;
}

tmsize_t TiffRead(thandle_t handle, void* buffer, tmsize_t size) {
    return OurRead(handle, buffer, static_cast<uint32_t>(size));
}
tmsize_t TiffWrite(thandle_t, void*, tmsize_t) { return -1; }
toff_t TiffSeek(thandle_t handle, toff_t offset, int whence) {
    return static_cast<toff_t>(OurSeek(handle, static_cast<uint32_t>(offset), whence));
}
int TiffClose(thandle_t) { return 0; }
toff_t TiffSize(thandle_t handle) { return static_cast<Memory*>(handle)->bytes->size(); }

PageDecodeContext Context;

bool DecodeOurs(const Document& document, PageBuffer& page) {
    Memory memory{&document, 0};
    page.filled = 0;
    if (!OpenTiffPage(Context, OurRead, OurSeek, &memory, KeepRows, &page, 0, 0xFF)) return false;
    DecodeTiffPage(Context);
    CloseTiffPage(Context);
    return true;
}

bool DecodeLibtiff(const Document& document, PageBuffer& page) {
    Memory memory{&document, 0};
    TIFF* tif = TIFFClientOpen("page", "rm", &memory, TiffRead, TiffWrite, TiffSeek, TiffClose, TiffSize,
                               nullptr, nullptr);
    if (tif == nullptr) return false;
    const tmsize_t stripSize = TIFFStripSize(tif);
    bool ok = true;
    for (uint32_t strip = 0; strip < TIFFNumberOfStrips(tif) && ok; ++strip) {
        const size_t at = static_cast<size_t>(strip) * static_cast<size_t>(stripSize);
        const tmsize_t room = static_cast<tmsize_t>(page.bytes.size() - std::min(at, page.bytes.size()));
        ok = TIFFReadEncodedStrip(tif, strip, page.bytes.data() + at, std::min(stripSize, room)) >= 0;
    }
    TIFFClose(tif);
    return ok;
}

// Decodes every page over and over for about `seconds`; returns pages per second.
template <typename Decode>
double PagesPerSecond(const std::vector<Document>& documents, PageBuffer& page, double seconds, Decode decode) {
    const std::clock_t start = std::clock();
    uint64_t pages = 0;
    double elapsed = 0;
    do {
        for (const Document& document : documents) {
            if (!decode(document, page)) {
                std::fprintf(stderr, "decode_bench: a page failed to decode\n");
                std::exit(1);
            }
            ++pages;
        }
        elapsed = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    } while (elapsed < seconds);
    return static_cast<double>(pages) / elapsed;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string directory = argc > 1 ? argv[1] : QRV_TEST_DOCUMENTS;
    const double seconds = argc > 2 ? std::atof(argv[2]) : 3.0;
    TIFFSetWarningHandler(nullptr);

    std::printf("%-34s %12s %12s %8s\n", "coding", "ours p/s", "libtiff p/s", "ratio");
    for (const char* variant : {"t6", "t4_2d"}) {
        std::vector<Document> documents;
        for (int i = 1; i <= 8; ++i) {
            const std::string path = directory + "/" + variant + "/ccitt" + std::to_string(i) + ".tif";
            std::ifstream in(path, std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "decode_bench: cannot read %s\n", path.c_str());
                return 1;
            }
            documents.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        // Room for a page with its last strip's rows past the image length.
        PageBuffer page{std::vector<uint8_t>(216 * 2600), 0};
        // Alternate the two so that both see the same machine; keep each one's best round.
        double ours = 0;
        double theirs = 0;
        for (int round = 0; round < 6; ++round) {
            ours = std::max(ours, PagesPerSecond(documents, page, seconds / 6, DecodeOurs));
            theirs = std::max(theirs, PagesPerSecond(documents, page, seconds / 6, DecodeLibtiff));
        }
        const std::string name = std::string(variant == std::string("t6") ? "T.6" : "T.4 two-dimensional") +
                                 " (8 ITU pages)";
        std::printf("%-34s %12.1f %12.1f %8.2f\n", name.c_str(), ours, theirs, ours / theirs);
    }
    return 0;
}
