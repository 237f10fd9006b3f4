// qrvpage [options] <document.tif> <page, from 1> [out.pbm]
// Decodes one page of a document with the source's own reader and decoders, prints what the
// page's directory says, and writes the decoded page as a PBM (P4) file when asked. With --bmp it
// writes the page bitmap file the source would write for the page, converted as the options say.
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "imaging/page_bitmap_format.h"
#include "tools/page_tool/page_build.h"

namespace {

const char* const Usage =
    "usage: qrvpage [options] <document.tif> <page, from 1> [out.pbm]\n"
    "  --bmp <out.bmp>        write the page bitmap file the source writes for the page\n"
    "  --convert              convert it with the settings below, as for a transfer\n"
    "                         (without: the page as decoded, as for the preview)\n"
    "  --resolution <dpi>     change the resolution to <dpi>, or <x>x<y>; default: no change\n"
    "  --pixel-type <type>    bw (default), gray or rgb\n"
    "  --paper <w>x<h>        fixed size in hundredths of an inch, e.g. 826x1168 for A4\n"
    "The page bitmap file is stored top row first: other readers show it upside down.\n";

struct ToolOptions {
    const char* document = nullptr;
    uint32_t page = 0;
    const char* pbmPath = nullptr;
    const char* bmpPath = nullptr;
    bool convert = false;
    bool settingGiven = false;
    ConversionSettings settings;
};

bool ParsePageNumber(const char* text, uint32_t& page) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (end == text || *end != '\0' || value < 1 || value > 65536 || text[0] == '-') return false;
    page = static_cast<uint32_t>(value);
    return true;
}

// A plain decimal number (no sign, no hexadecimal).
bool ParseNumber(const char* text, const char** end, double& value) {
    const auto result = std::from_chars(text, text + std::strlen(text), value);
    *end = result.ptr;
    return result.ec == std::errc() && text[0] != '-';
}

// "<a>" (both the same, when allowed) or "<a>x<b>".
bool ParsePair(const char* text, bool allowSingle, double& a, double& b) {
    const char* end = nullptr;
    if (!ParseNumber(text, &end, a)) return false;
    if (*end == '\0' && allowSingle) {
        b = a;
        return true;
    }
    return *end == 'x' && ParseNumber(end + 1, &end, b) && *end == '\0';
}

bool ParsePixelType(const char* text, int& pixelType) {
    const char* names[] = {"bw", "gray", "rgb"};
    for (int type = PixelTypeBlackWhite; type <= PixelTypeRgb; ++type) {
        if (std::strcmp(text, names[type]) == 0) {
            pixelType = type;
            return true;
        }
    }
    return false;
}

bool ParseOptions(int argc, char** argv, ToolOptions& o) {
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--convert") {
            o.convert = true;
        } else if (arg == "--bmp" && hasValue) {
            o.bmpPath = argv[++i];
        } else if (arg == "--resolution" && hasValue) {
            o.settings.resolutionChange = true;
            o.settingGiven = true;
            if (!ParsePair(argv[++i], true, o.settings.targetXResolution, o.settings.targetYResolution))
                return false;
        } else if (arg == "--pixel-type" && hasValue) {
            o.settingGiven = true;
            if (!ParsePixelType(argv[++i], o.settings.pixelType)) return false;
        } else if (arg == "--paper" && hasValue) {
            double w = 0, h = 0;
            if (!ParsePair(argv[++i], false, w, h) || w > 1e6 || h > 1e6) return false;
            o.settings.fixedSizeOn = true;
            o.settings.paperWidth = static_cast<int32_t>(w);
            o.settings.paperHeight = static_cast<int32_t>(h);
            o.settingGiven = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return false;
        } else if (positional == 0) {
            o.document = argv[i];
            ++positional;
        } else if (positional == 1) {
            if (!ParsePageNumber(argv[i], o.page)) return false;
            ++positional;
        } else if (positional == 2) {
            o.pbmPath = argv[i];
            ++positional;
        } else {
            return false;
        }
    }
    // Settings apply only to a converted page bitmap file; anything else is a mistake.
    if (positional < 2 || (o.convert && !o.bmpPath) || (o.settingGiven && !o.convert)) return false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    ToolOptions options;
    if (!ParseOptions(argc, argv, options)) {
        std::fputs(Usage, stderr);
        return 2;
    }
    FILE* file = std::fopen(options.document, "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "qrvpage: cannot open %s\n", options.document);
        return 1;
    }
    BuiltPage page;
    const bool decoded = DecodeDocumentPage(file, options.page, true, page);
    std::fclose(file);
    if (!decoded) {
        std::fprintf(stderr, "qrvpage: page %u of %s cannot be decoded\n", options.page, options.document);
        return 1;
    }
    if (options.pbmPath && !WritePbm(options.pbmPath, page)) {
        std::fprintf(stderr, "qrvpage: cannot write %s\n", options.pbmPath);
        return 1;
    }
    if (!options.bmpPath) return 0;
    ConversionPlan plan;
    if (!PlanPageBitmap(page, options.convert ? &options.settings : nullptr, plan)) {
        std::fprintf(stderr, "qrvpage: the page cannot be converted with these settings\n");
        return 1;
    }
    if (!WritePageBitmap(options.bmpPath, page, plan)) {
        std::fprintf(stderr, "qrvpage: cannot write %s\n", options.bmpPath);
        return 1;
    }
    std::printf("page bitmap: %u x %u, %d x %d dpi, %d bits per pixel\n", plan.width, plan.height,
                plan.xResolution, plan.yResolution,
                plan.pixelType == PixelTypeBlackWhite ? 1 : plan.pixelType == PixelTypeGray ? 8 : 24);
    return 0;
}
