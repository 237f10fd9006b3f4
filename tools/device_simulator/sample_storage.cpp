#include "tools/device_simulator/sample_storage.h"

#include <sys/stat.h>

#include <cstdio>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" {
#include <jbig.h>
}
#include <tiffio.h>

namespace {

// TIFF-FX's code for JBIG (ITU-T T.82); libtiff has no codec for it, so strips are written raw.
constexpr uint16_t CompressionJbig = 9;

struct Bitmap {
    unsigned long width = 0;
    unsigned long height = 0;
    std::vector<unsigned char> bits;  // 1 = black, rows of (width + 7) / 8 bytes
    size_t Stride() const { return (width + 7) / 8; }
};

bool DecodeJbg(const std::string& path, Bitmap& bitmap)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.empty())
        return false;
    jbg_dec_state state;
    jbg_dec_init(&state);
    size_t used = 0;
    int result = jbg_dec_in(&state, data.data(), data.size(), &used);
    bool ok = result == JBG_EOK;
    if (ok) {
        bitmap.width = jbg_dec_getwidth(&state);
        bitmap.height = jbg_dec_getheight(&state);
        unsigned char* image = jbg_dec_getimage(&state, 0);
        bitmap.bits.assign(image, image + jbg_dec_getsize(&state));
    }
    jbg_dec_free(&state);
    return ok;
}

// Standard resolution: every other row of a fine page.
Bitmap HalfHeight(const Bitmap& fine)
{
    Bitmap half;
    half.width = fine.width;
    half.height = fine.height / 2;
    for (unsigned long row = 0; row < half.height; ++row) {
        auto from = fine.bits.begin() + static_cast<long>(2 * row * fine.Stride());
        half.bits.insert(half.bits.end(), from, from + static_cast<long>(fine.Stride()));
    }
    return half;
}

enum class Coding { T4OneD, T4TwoD, T6, Jbig };

struct PageSpec {
    const Bitmap* bitmap;
    int yResolution;
};

void SetPageFields(TIFF* tiff, const Bitmap& bitmap, int yResolution, uint16_t compression, uint32_t rowsPerStrip,
                   int page, int pages)
{
    TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(bitmap.width));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(bitmap.height));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tiff, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
    TIFFSetField(tiff, TIFFTAG_XRESOLUTION, 200.0f);
    TIFFSetField(tiff, TIFFTAG_YRESOLUTION, static_cast<float>(yResolution));
    TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    TIFFSetField(tiff, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(page), static_cast<uint16_t>(pages));
}

void CollectJbig(unsigned char* start, size_t length, void* file)
{
    auto* out = static_cast<std::vector<unsigned char>*>(file);
    out->insert(out->end(), start, start + length);
}

std::vector<unsigned char> EncodeJbig(const Bitmap& bitmap, unsigned long firstRow, unsigned long rows)
{
    std::vector<unsigned char> out;
    unsigned char* plane = const_cast<unsigned char*>(bitmap.bits.data()) + firstRow * bitmap.Stride();
    jbg_enc_state state;
    jbg_enc_init(&state, bitmap.width, rows, 1, &plane, CollectJbig, &out);
    jbg_enc_out(&state);
    jbg_enc_free(&state);
    return out;
}

bool WriteDocument(const std::string& path, const std::vector<PageSpec>& pages, Coding coding)
{
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    if (!tiff)
        return false;
    bool ok = true;
    for (size_t i = 0; ok && i < pages.size(); ++i) {
        const Bitmap& bitmap = *pages[i].bitmap;
        int count = static_cast<int>(pages.size());
        if (coding == Coding::Jbig) {
            // Three strips a page, each a complete JBIG image of its own.
            uint32_t rowsPerStrip = static_cast<uint32_t>((bitmap.height + 2) / 3);
            SetPageFields(tiff, bitmap, pages[i].yResolution, CompressionJbig, rowsPerStrip, static_cast<int>(i), count);
            for (uint32_t strip = 0; ok && strip * rowsPerStrip < bitmap.height; ++strip) {
                unsigned long first = strip * rowsPerStrip;
                unsigned long rows = std::min<unsigned long>(rowsPerStrip, bitmap.height - first);
                std::vector<unsigned char> data = EncodeJbig(bitmap, first, rows);
                ok = TIFFWriteRawStrip(tiff, strip, data.data(), static_cast<tmsize_t>(data.size())) >= 0;
            }
        } else {
            uint16_t compression = coding == Coding::T6 ? COMPRESSION_CCITTFAX4 : COMPRESSION_CCITTFAX3;
            SetPageFields(tiff, bitmap, pages[i].yResolution, compression, static_cast<uint32_t>(bitmap.height),
                          static_cast<int>(i), count);
            if (coding != Coding::T6)
                TIFFSetField(tiff, TIFFTAG_GROUP3OPTIONS, coding == Coding::T4TwoD ? GROUP3OPT_2DENCODING : 0);
            std::vector<unsigned char> row(bitmap.Stride());
            for (unsigned long y = 0; ok && y < bitmap.height; ++y) {
                std::copy_n(bitmap.bits.begin() + static_cast<long>(y * bitmap.Stride()), bitmap.Stride(), row.begin());
                ok = TIFFWriteScanline(tiff, row.data(), static_cast<uint32_t>(y), 0) >= 0;
            }
        }
        ok = ok && TIFFWriteDirectory(tiff);
    }
    TIFFClose(tiff);
    return ok;
}

struct SampleDocument {
    unsigned id;
    const char* subject;
    const char* timestamp;
    Coding coding;
    bool standard;  // 200 by 100 dpi
    std::vector<int> itu;  // ITU page numbers, 1 to 8
};

std::string Escape(const std::string& text)
{
    std::string escaped;
    for (char c : text) {
        if (c == '&')
            escaped += "&amp;";
        else if (c == '<')
            escaped += "&lt;";
        else if (c == '"')
            escaped += "&quot;";
        else
            escaped += c;
    }
    return escaped;
}

}  // namespace

bool MakeSampleStorage(const std::string& folder, const std::string& ituFolder, std::string& error)
{
    Bitmap fine[9];
    Bitmap standard[9];
    for (int page = 1; page <= 8; ++page) {
        std::string path = ituFolder + "/ccitt" + std::to_string(page) + ".jbg";
        if (!DecodeJbg(path, fine[page])) {
            error = "cannot decode " + path;
            return false;
        }
        standard[page] = HalfHeight(fine[page]);
    }
    mkdir(folder.c_str(), 0755);
    std::string documents = folder + "/documents";
    mkdir(documents.c_str(), 0755);

    const std::vector<SampleDocument> samples = {
        {0x1000, "ITU page 1 (T.4 1-D)", "2024/05/01 09:15:00", Coding::T4OneD, false, {1}},
        {0x1001, "ITU pages 2-3 (T.4 2-D)", "2024/05/02 10:30:00", Coding::T4TwoD, false, {2, 3}},
        {0x1002, "ITU page 4 (T.6)", "2024/05/03 11:45:00", Coding::T6, false, {4}},
        {0x1003, "ITU pages 5-8 (T.6)", "2024/05/04 13:00:00", Coding::T6, false, {5, 6, 7, 8}},
        {0x1004, "ITU page 1 (T.4 1-D, standard)", "2024/05/05 14:15:00", Coding::T4OneD, true, {1}},
        {0x1005, "ITU pages 1-8 (JBIG)", "2024/05/06 15:30:00", Coding::Jbig, false, {1, 2, 3, 4, 5, 6, 7, 8}},
        {0x1006, "ITU page 7 (T.6, standard)", "2024/05/07 16:45:00", Coding::T6, true, {7}},
        {0x1007, "ITU page 2 (JBIG, standard)", "2024/05/08 08:00:00", Coding::Jbig, true, {2}},
        {0x1008, "ITU page 3 (T.4 2-D)", "2024/05/09 09:10:00", Coding::T4TwoD, false, {3}},
    };
    std::vector<std::string> lines(samples.size());
    for (size_t i = 0; i < samples.size(); ++i) {
        const SampleDocument& sample = samples[i];
        std::vector<PageSpec> pages;
        for (int page : sample.itu)
            pages.push_back({sample.standard ? &standard[page] : &fine[page], sample.standard ? 100 : 200});
        char name[32];
        snprintf(name, sizeof name, "documents/%08X.tif", sample.id);
        if (!WriteDocument(folder + "/" + name, pages, sample.coding)) {
            error = std::string("cannot write ") + name;
            return false;
        }
        char line[512];
        snprintf(line, sizeof line,
                 "<document id=\"%08X\" subject=\"%s\" timestamp=\"%s\" pages=\"%zu\" doctype=\"SCAN\" "
                 "status=\"NEW\" file=\"%s\"/>",
                 sample.id, Escape(sample.subject).c_str(), sample.timestamp, sample.itu.size(), name);
        lines[i] = line;
    }

    std::ofstream xml(folder + "/storage.xml", std::ios::binary);
    xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<!-- The simulator's sample storage: the ITU-T test pages as T.4, T.6 and JBIG documents. -->\n"
        << "<storage name=\"Orvel Simulator\" type=\"1\">\n"
        << "  <user id=\"001\" handle=\"1\" name=\"Alice Archer\" password=\"\">\n"
        << "    <folder id=\"00000100\" name=\"Inbox\">\n"
        << "      " << lines[0] << "\n      " << lines[1] << "\n      " << lines[2] << "\n      " << lines[3] << "\n"
        << "    </folder>\n"
        << "    <folder id=\"00000101\" name=\"Scans\">\n"
        << "      <folder id=\"00000102\" name=\"Archive\" timestamp=\"2024/04/30 18:00:00\">\n"
        << "        " << lines[6] << "\n"
        << "      </folder>\n"
        << "      " << lines[4] << "\n      " << lines[5] << "\n"
        << "    </folder>\n"
        << "  </user>\n"
        << "  <user id=\"002\" handle=\"2\" name=\"Bob Baker\" password=\"secret\">\n"
        << "    <folder id=\"00000200\" name=\"Fax\">\n"
        << "      " << lines[7] << "\n      " << lines[8] << "\n"
        << "    </folder>\n"
        << "  </user>\n"
        << "  <user id=\"003\" handle=\"3\" name=\"Carol Chen\" password=\"\">\n"
        << "    <folder id=\"00000300\" name=\"Empty\"/>\n"
        << "  </user>\n"
        << "</storage>\n";
    if (!xml) {
        error = "cannot write storage.xml";
        return false;
    }
    return true;
}
