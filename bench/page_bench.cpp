// Time per page of the whole page build inside one process: decode a page of a T.6 document,
// convert it to the transfer settings and write the page bitmap file, as qrvpage --bmp does (the
// same code), on the eight ITU-T test pages. Prints, per setting, the median over the pages of
// the best of several rounds, split into decode and convert-and-write (the page is converted
// band by band as it is written), and beside it the limit: the time to fill a buffer the size of
// the page's file and write it as a file of that size, measured the same way in the same run,
// with the page's time as a multiple of it.
// usage: page_bench <documents dir> <output dir> [rounds]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/page_bitmap_format.h"
#include "tools/page_tool/page_build.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Setting {
    const char* name;
    ConversionSettings settings;
};

ConversionSettings Make(double dpi, int pixelType, int32_t paperWidth = 0, int32_t paperHeight = 0) {
    ConversionSettings s;
    s.resolutionChange = dpi > 0;
    s.targetXResolution = s.targetYResolution = dpi;
    s.pixelType = pixelType;
    s.fixedSizeOn = paperWidth > 0;
    s.paperWidth = paperWidth;
    s.paperHeight = paperHeight;
    return s;
}

struct Times {
    double decode = 0, write = 0;
    double limit = 0;  // best of the rounds, from its own rounds
    double Total() const { return decode + write; }
};

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

bool BuildOnce(const std::string& document, const ConversionSettings& settings, const std::string& out, Times& t) {
    const auto start = Clock::now();
    FILE* file = std::fopen(document.c_str(), "rb");
    if (!file) return false;
    BuiltPage page;
    const bool decoded = DecodeDocumentPage(file, 1, false, page);
    std::fclose(file);
    const auto decodedAt = Clock::now();
    ConversionPlan plan;
    if (!decoded || !PlanPageBitmap(page, &settings, plan) || !WritePageBitmap(out.c_str(), page, plan))
        return false;
    const auto writtenAt = Clock::now();
    t.decode = Milliseconds(decodedAt - start);
    t.write = Milliseconds(writtenAt - decodedAt);
    return true;
}

// The limit for a page file of `bytes`: every byte of a buffer set once, then written as one file.
// The buffer is allocated beforehand, as a builder that reuses its memory would have it.
bool LimitOnce(std::vector<uint8_t>& buffer, const std::string& out, double& milliseconds) {
    const auto start = Clock::now();
    std::memset(buffer.data(), 0xA5, buffer.size());
    FILE* file = std::fopen(out.c_str(), "wb");
    if (!file) return false;
    const bool written = std::fwrite(buffer.data(), 1, buffer.size(), file) == buffer.size();
    if (std::fclose(file) != 0 || !written) return false;
    milliseconds = Milliseconds(Clock::now() - start);
    return true;
}

long FileSize(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return -1;
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fclose(file);
    return size;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: page_bench <documents dir> <output dir> [rounds]\n");
        return 2;
    }
    const std::string documents = argv[1];
    const std::string outDir = argv[2];
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    const Setting settings[] = {
        {"200 dpi gray", Make(200, PixelTypeGray)},
        {"300 dpi gray", Make(300, PixelTypeGray)},
        {"400 dpi black and white", Make(400, PixelTypeBlackWhite)},
        {"A4 200 dpi black and white", Make(0, PixelTypeBlackWhite, 826, 1168)},
        {"A4 300 dpi gray", Make(300, PixelTypeGray, 826, 1168)},
    };
    std::printf("%-28s %10s %10s %16s %10s %12s\n", "setting", "page ms", "decode", "convert+write", "limit ms",
                "page/limit");
    for (const Setting& s : settings) {
        std::vector<Times> perPage;
        for (int p = 1; p <= 8; ++p) {
            const std::string document = documents + "/t6/ccitt" + std::to_string(p) + ".tif";
            const std::string out = outDir + "/page_bench.bmp";
            Times best;
            double bestTotal = 1e30;
            for (int r = 0; r < rounds; ++r) {
                Times t;
                // Every round writes a new file, as the source does for every page (replacing a
                // file on this file system would also start its write-back at the close).
                std::remove(out.c_str());
                if (!BuildOnce(document, s.settings, out, t)) {
                    std::fprintf(stderr, "page_bench: %s failed for %s\n", s.name, document.c_str());
                    return 1;
                }
                if (t.Total() < bestTotal) {
                    bestTotal = t.Total();
                    best = t;
                }
            }
            // The limit, in rounds of its own alternating with nothing else, right after the page's.
            std::vector<uint8_t> buffer(static_cast<size_t>(std::max(0L, FileSize(out))));
            best.limit = 1e30;
            for (int r = 0; r < rounds; ++r) {
                double limit = 0;
                const std::string limitFile = outDir + "/page_bench_limit.bin";
                std::remove(limitFile.c_str());
                if (buffer.empty() || !LimitOnce(buffer, limitFile, limit)) {
                    std::fprintf(stderr, "page_bench: the limit could not be measured for %s\n", document.c_str());
                    return 1;
                }
                best.limit = std::min(best.limit, limit);
            }
            perPage.push_back(best);
        }
        std::sort(perPage.begin(), perPage.end(), [](const Times& a, const Times& b) { return a.Total() < b.Total(); });
        const Times& median = perPage[perPage.size() / 2];
        std::printf("%-28s %10.2f %10.2f %16.2f %10.2f %12.2f\n", s.name, median.Total(), median.decode,
                    median.write, median.limit, median.Total() / median.limit);
    }
    return 0;
}
