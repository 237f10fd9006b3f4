#include "imaging/windows/page_bitmap_builder.h"

#include <cstdio>

#include "device/config_store.h"
#include "device/message_presentation.h"
#include "imaging/page_bitmap_format.h"
#include "imaging/page_conversion.h"
#include "imaging/windows/page_file_io.h"
#include "imaging/windows/page_file_store.h"
#include "source/capability_store.h"
#include "window/options_panel.h"

namespace {

constexpr int NotEnoughMemoryMessage = 323;
constexpr int SetFilePointerErrorMessage = 332;
constexpr int NoTemporaryFileMessage = 333;
constexpr int NoBitmapFileMessage = 334;
constexpr int NoDocumentMessage = 335;
constexpr int TemporaryFileNotLoadedMessage = 336;
constexpr int NotDecodableMessage = 337;

// The decoders' state for the page being built: large, and one page is built at a time.
PageDecodeContext BuildContext;

// Shows the wait cursor while it lives.
struct WaitCursor {
    HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    ~WaitCursor() { SetCursor(previous); }
};

int ReportBuildFailure(int id)
{
    SetPendingMessage(id);
    PresentPendingMessage();
    return 0;
}

void DeleteTemporaryFile(HANDLE file, const char* path)
{
    CloseHandle(file);
    DeleteFileA(path);
}

// Reads the decoded rows back from the temporary file into a zero-filled global block; rows the
// decoders delivered beyond the page's height are left in the file.
int LoadDecodedRows(HANDLE temporary, HGLOBAL& bits)
{
    uint64_t bytes = uint64_t(BuildContext.height) * BuildContext.bytesPerRow;
    bits = bytes <= MaxPageBytes ? GlobalAlloc(GPTR, static_cast<SIZE_T>(bytes)) : nullptr;
    if (!bits)
        return ReportBuildFailure(NotEnoughMemoryMessage);
    int failure = 0;
    if (PageFileSeek(temporary, 0, FILE_BEGIN) != 0)
        failure = SetFilePointerErrorMessage;
    else if (PageFileRead(temporary, bits, static_cast<uint32_t>(bytes)) != bytes)
        failure = TemporaryFileNotLoadedMessage;
    if (failure) {
        GlobalFree(bits);
        bits = nullptr;
        return ReportBuildFailure(failure);
    }
    return 1;
}

// Decodes the page into a global block through the "Bit" file. Every failure is reported.
int DecodePageRows(const char* documentPath, int page, HGLOBAL& bits)
{
    HANDLE document = CreateFileA(documentPath, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (document == INVALID_HANDLE_VALUE)
        return ReportBuildFailure(NoDocumentMessage);
    char temporaryPath[MAX_PATH];
    HANDLE temporary = INVALID_HANDLE_VALUE;
    // Without a work directory the temporary file would land in whatever folder is current.
    if (WorkDirectory[0] != '\0' && GetTempFileNameA(WorkDirectory, "Bit", 0, temporaryPath)) {
        temporary = CreateFileA(temporaryPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (temporary == INVALID_HANDLE_VALUE)
            DeleteFileA(temporaryPath);
    }
    if (temporary == INVALID_HANDLE_VALUE) {
        CloseHandle(document);
        return ReportBuildFailure(NoTemporaryFileMessage);
    }
    // A page number below 1 names no page: the index wraps past every directory.
    if (!OpenTiffPage(BuildContext, PageFileRead, PageFileSeek, document, PageFileWrite, temporary,
                      static_cast<uint32_t>(page - 1), 0xFF)) {
        // The document is fetched again next time.
        CloseHandle(document);
        DeleteFileA(documentPath);
        DeleteTemporaryFile(temporary, temporaryPath);
        return ReportBuildFailure(NotDecodableMessage);
    }
    DecodeTiffPage(BuildContext);
    CloseTiffPage(BuildContext);
    CloseHandle(document);
    int loaded = LoadDecodedRows(temporary, bits);
    DeleteTemporaryFile(temporary, temporaryPath);
    return loaded;
}

}  // namespace

int BuildPageBitmap(const char* documentPath, int page, bool convert, PageInfo* info)
{
    WaitCursor wait;
    if (!documentPath || documentPath[0] == '\0')
        return 0;
    HGLOBAL bits = nullptr;
    if (!DecodePageRows(documentPath, page, bits))
        return 0;
    if (convert && !ConvertPageBitmap(BuildContext, bits)) {
        GlobalFree(bits);
        return ReportBuildFailure(NoBitmapFileMessage);
    }
    char pagePath[MAX_PATH];
    int named = snprintf(pagePath, sizeof pagePath, "%s~%03d.bmp", documentPath, page);
    int pixelType = convert ? GetPixelType() : PixelTypeBlackWhite;
    // A name cut to fit would be another file's.
    if (named < 0 || named >= static_cast<int>(sizeof pagePath) ||
        !WritePageBitmapFile(pagePath, bits, static_cast<int>(BuildContext.width),
                             static_cast<int>(BuildContext.height), BuildContext.xResolution,
                             BuildContext.yResolution, pixelType)) {
        CurrentPageFile[0] = '\0';
        GlobalFree(bits);
        return ReportBuildFailure(NoBitmapFileMessage);
    }
    GlobalFree(bits);
    if (info) {
        info->width = static_cast<int32_t>(BuildContext.width);
        info->height = static_cast<int32_t>(BuildContext.height);
        info->xResolution = BuildContext.xResolution;
        info->yResolution = BuildContext.yResolution;
    }
    // The page written must be the one sent next: if it cannot be selected, no page is current.
    if (!SelectPageFile(pagePath)) {
        CurrentPageFile[0] = '\0';
        return ReportBuildFailure(NoBitmapFileMessage);
    }
    return 1;
}

int ConvertPageBitmap(PageDecodeContext& context, HGLOBAL& bits)
{
    ConversionSettings settings;
    settings.resolutionChange = GetResolutionChangeRequested();
    settings.targetXResolution = GetXResolution();
    settings.targetYResolution = GetYResolution();
    settings.pixelType = GetPixelType();
    settings.fixedSizeOn = FixedSizeOn();
    if (settings.fixedSizeOn)
        FixedSizeDimensions(settings.paperWidth, settings.paperHeight);
    ConversionPlan plan;
    if (!PlanPageConversion(context.width, context.height, context.xResolution,
                            context.yResolution, settings, plan))
        return 0;
    if (plan.unchanged)
        return 1;
    HGLOBAL converted = GlobalAlloc(GMEM_FIXED, static_cast<SIZE_T>(plan.bytes));
    if (!converted)
        return 0;
    if (!ConvertPageRows(plan, static_cast<const uint8_t*>(bits), context.bytesPerRow,
                         static_cast<uint8_t*>(converted))) {
        GlobalFree(converted);
        return 0;
    }
    GlobalFree(bits);
    bits = converted;
    context.width = plan.width;
    context.height = plan.height;
    context.bytesPerRow = plan.stride;
    context.xResolution = static_cast<int16_t>(plan.xResolution);
    context.yResolution = static_cast<int16_t>(plan.yResolution);
    return 1;
}
