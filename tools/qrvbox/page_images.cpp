#include "tools/qrvbox/page_images.h"

#include <algorithm>
#include <memory>

#include "tools/page_tool/page_build.h"
#include "tools/qrvbox/image_writers.h"
#include "tools/qrvbox/platform.h"

namespace {

// Bands of about 256 KiB: the converted page is written as it is made.
constexpr uint32_t BandBytes = 256 * 1024;

bool WriteImage(const BuiltPage& decoded, const ConversionPlan& plan, ImageFormat format, FILE* out) {
    PageScaler scaler;
    if (!StartPageConversion(plan, decoded.rows.data(), decoded.stride, scaler)) return false;
    std::unique_ptr<ImageWriter> writer;
    if (format == ImageFormat::Png) writer = std::make_unique<PngWriter>();
    else writer = std::make_unique<BmpWriter>();
    if (!writer->Begin(out, plan)) return false;
    const uint32_t bandRows = std::max<uint32_t>(1, BandBytes / plan.stride);
    std::vector<uint8_t> band(static_cast<size_t>(bandRows) * plan.stride);
    for (;;) {
        const uint32_t rows = ConvertPageBand(scaler, bandRows, band.data());
        if (rows == 0) break;
        if (!writer->WriteRows(band.data(), rows)) return false;
    }
    return writer->Finish();
}

}  // namespace

const char* ImageExtension(ImageFormat format) { return format == ImageFormat::Png ? "png" : "bmp"; }

bool WritePageImage(FILE* document, uint32_t page, const ImageSettings& settings, const std::string& path,
                    std::string& problem) {
    BuiltPage decoded;
    if (!DecodeDocumentPage(document, page, false, decoded)) {
        problem = "page " + std::to_string(page) + " cannot be found or decoded";
        return false;
    }
    ConversionPlan plan;
    if (!PlanPageBitmap(decoded, &settings.conversion, plan)) {
        problem = "page " + std::to_string(page) + " cannot be converted with these settings";
        return false;
    }
    FILE* out = OpenFile(path, "wb");
    if (!out) {
        problem = "the file " + path + " cannot be made";
        return false;
    }
    bool written = WriteImage(decoded, plan, settings.format, out);
    written = std::fclose(out) == 0 && written;
    if (!written) {
        RemoveFile(path);
        problem = "the file " + path + " could not be written";
    }
    return written;
}
