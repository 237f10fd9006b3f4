#include "imaging/windows/page_bitmap_builder.h"

#include <cstdio>

#include "imaging/page_bitmap_format.h"
#include "imaging/windows/page_file_io.h"
#include "imaging/windows/page_file_store.h"

namespace {

constexpr int Built = 0;
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

void DeleteTemporaryFile(HANDLE file, const char* path)
{
    CloseHandle(file);
    DeleteFileA(path);
}

// Reads the decoded rows back from the temporary file into a zero-filled global block; rows the
// decoders delivered beyond the page's height are left in the file. Built, or the message.
int LoadDecodedRows(HANDLE temporary, HGLOBAL& bits)
{
    uint64_t bytes = uint64_t(BuildContext.height) * BuildContext.bytesPerRow;
    bits = bytes <= MaxPageBytes ? GlobalAlloc(GPTR, static_cast<SIZE_T>(bytes)) : nullptr;
    if (!bits)
        return NotEnoughMemoryMessage;
    int failure = Built;
    if (PageFileSeek(temporary, 0, FILE_BEGIN) != 0)
        failure = SetFilePointerErrorMessage;
    else if (PageFileRead(temporary, bits, static_cast<uint32_t>(bytes)) != bytes)
        failure = TemporaryFileNotLoadedMessage;
    if (failure != Built) {
        GlobalFree(bits);
        bits = nullptr;
    }
    return failure;
}

// Decodes the page into a global block through the "Bit" file. Built, or the message.
int DecodePageRows(const PageBuildRequest& request, HGLOBAL& bits)
{
    HANDLE document = CreateFileA(request.documentPath, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (document == INVALID_HANDLE_VALUE)
        return NoDocumentMessage;
    char temporaryPath[MAX_PATH];
    HANDLE temporary = INVALID_HANDLE_VALUE;
    // Without a work directory the temporary file would land in whatever folder is current.
    const char* work = request.workDirectory ? request.workDirectory : "";
    if (work[0] != '\0' && GetTempFileNameA(work, "Bit", 0, temporaryPath)) {
        temporary = CreateFileA(temporaryPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (temporary == INVALID_HANDLE_VALUE)
            DeleteFileA(temporaryPath);
    }
    if (temporary == INVALID_HANDLE_VALUE) {
        CloseHandle(document);
        return NoTemporaryFileMessage;
    }
    // A page number below 1 names no page: the index wraps past every directory.
    if (!OpenTiffPage(BuildContext, PageFileRead, PageFileSeek, document, PageFileWrite, temporary,
                      static_cast<uint32_t>(request.page - 1), 0xFF)) {
        // The document is fetched again next time.
        CloseHandle(document);
        DeleteFileA(request.documentPath);
        DeleteTemporaryFile(temporary, temporaryPath);
        return NotDecodableMessage;
    }
    DecodeTiffPage(BuildContext);
    CloseTiffPage(BuildContext);
    CloseHandle(document);
    int loaded = LoadDecodedRows(temporary, bits);
    DeleteTemporaryFile(temporary, temporaryPath);
    return loaded;
}

PageBuildResult Failed(int messageId)
{
    PageBuildResult result;
    result.messageId = messageId;
    return result;
}

}  // namespace

PageBuildResult BuildPageBitmap(const PageBuildRequest& request)
{
    WaitCursor wait;
    if (!request.documentPath || request.documentPath[0] == '\0')
        return Failed(NoBuildMessage);
    HGLOBAL bits = nullptr;
    int decoded = DecodePageRows(request, bits);
    if (decoded != Built)
        return Failed(decoded);
    if (request.convert && !ConvertPageBitmap(BuildContext, bits, request.conversion)) {
        GlobalFree(bits);
        return Failed(NoBitmapFileMessage);
    }
    char pagePath[MAX_PATH];
    int named = snprintf(pagePath, sizeof pagePath, "%s~%03d.bmp", request.documentPath, request.page);
    int pixelType = request.convert ? request.conversion.pixelType : PixelTypeBlackWhite;
    // A name cut to fit would be another file's.
    if (named < 0 || named >= static_cast<int>(sizeof pagePath) ||
        !WritePageBitmapFile(pagePath, bits, static_cast<int>(BuildContext.width),
                             static_cast<int>(BuildContext.height), BuildContext.xResolution,
                             BuildContext.yResolution, pixelType)) {
        CurrentPageFile[0] = '\0';
        GlobalFree(bits);
        return Failed(NoBitmapFileMessage);
    }
    GlobalFree(bits);
    // The page written must be the one sent next: if it cannot be selected, no page is current.
    if (!SelectPageFile(pagePath)) {
        CurrentPageFile[0] = '\0';
        return Failed(NoBitmapFileMessage);
    }
    PageBuildResult result;
    result.built = 1;
    result.info.width = static_cast<int32_t>(BuildContext.width);
    result.info.height = static_cast<int32_t>(BuildContext.height);
    result.info.xResolution = BuildContext.xResolution;
    result.info.yResolution = BuildContext.yResolution;
    return result;
}

int ConvertPageBitmap(PageDecodeContext& context, HGLOBAL& bits, const ConversionSettings& settings)
{
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
