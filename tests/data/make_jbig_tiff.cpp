// make_jbig_tiff <out.tif> <width> <height> <rows per strip | -> <photometric 0 | 1 | -> <strip.jbg>...
// Writes a one-page TIFF with Compression 9 whose strips are the given JBIG files, at 200 dpi.
// libtiff writes JBIG only as its own single-strip compression, so the test documents with JBIG
// strips are put together here.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "tests/data/tiff_builder.h"

int main(int argc, char** argv) {
    if (argc < 7) {
        std::fprintf(stderr, "usage: make_jbig_tiff <out.tif> <width> <height> <rows per strip | -> "
                             "<photometric 0 | 1 | -> <strip.jbg>...\n");
        return 2;
    }
    TiffPage page;
    page.entries = {
        Long(256, {static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10))}),
        Long(257, {static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10))}),
        Short(258, {1}),
        Short(259, {9}),
        Short(277, {1}),
        Rational(282, 200, 1),
        Rational(283, 200, 1),
        Short(296, {2}),
    };
    if (std::strcmp(argv[4], "-") != 0) page.entries.push_back(Long(278, {static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10))}));
    if (std::strcmp(argv[5], "-") != 0) page.entries.push_back(Short(262, {static_cast<uint32_t>(std::strtoul(argv[5], nullptr, 10))}));
    for (int i = 6; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "make_jbig_tiff: cannot read %s\n", argv[i]);
            return 1;
        }
        page.strips.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const std::vector<uint8_t> file = BuildTiff({page});
    std::ofstream out(argv[1], std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    if (!out.flush()) {
        std::fprintf(stderr, "make_jbig_tiff: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
