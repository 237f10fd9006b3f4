// The page builder on real TIFF documents (JBIG pages coded by JBIG-KIT, made by the test),
// without a source window: the page files it writes under each conversion it is given, every
// failure with the message it hands back (it shows none itself), and the conversion the options
// panel asks for.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <jbig.h>
}

#include "device/config_store.h"
#include "imaging/windows/page_bitmap_builder.h"
#include "imaging/windows/page_file_io.h"
#include "imaging/windows/page_file_store.h"
#include "source/capability_store.h"
#include "tests/data/tiff_builder.h"
#include "tests/windows/support/attached_core.h"
#include "tests/windows/support/box_watcher.h"
#include "tests/windows/support/test_files.h"
#include "window/browser_state.h"
#include "window/options_panel.h"

namespace {

// A bilevel page as JBIG codes it: rows of ceil(width / 8) bytes, 1 = black.
struct Plane {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> bits;

    Plane(uint32_t w, uint32_t h) : width(w), height(h), bits(size_t((w + 7) / 8) * h) {}
    void SetBlack(uint32_t x, uint32_t y) { bits[size_t(y) * ((width + 7) / 8) + x / 8] |= uint8_t(0x80 >> (x % 8)); }
    bool Black(uint32_t x, uint32_t y) const { return (bits[size_t(y) * ((width + 7) / 8) + x / 8] >> (7 - x % 8)) & 1; }
    void FillBlack(uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1)
    {
        for (uint32_t y = y0; y < y1 && y < height; ++y)
            for (uint32_t x = x0; x < x1 && x < width; ++x)
                SetBlack(x, y);
    }
};

// A page with something to find in every corner: a block at the top left, a diagonal and a
// block at the right edge (on pages at least 70 rows high).
Plane MarkedPage(uint32_t w, uint32_t h)
{
    Plane p(w, h);
    p.FillBlack(0, 0, 100, 50);
    for (uint32_t y = 0; y < h && y < w; y += 3)
        p.SetBlack(y, y);
    p.FillBlack(w - 28, 60, w, 70);
    return p;
}

void AppendBytes(unsigned char* start, size_t length, void* out)
{
    static_cast<std::vector<uint8_t>*>(out)->insert(static_cast<std::vector<uint8_t>*>(out)->end(), start, start + length);
}

std::vector<uint8_t> EncodeJbig(const Plane& plane)
{
    std::vector<uint8_t> out;
    std::vector<uint8_t> bits = plane.bits;
    unsigned char* planes[1] = {bits.data()};
    jbg_enc_state state;
    jbg_enc_init(&state, plane.width, plane.height, 1, planes, AppendBytes, &out);
    jbg_enc_out(&state);
    jbg_enc_free(&state);
    return out;
}

TiffPage JbigPage(const Plane& plane, uint32_t xDpi, uint32_t yDpi)
{
    TiffPage page;
    page.entries = {Long(256, {plane.width}), Long(257, {plane.height}), Short(258, {1}), Short(259, {9}),
                    Short(262, {0}), Short(277, {1}), Long(278, {plane.height}), Rational(282, xDpi, 1),
                    Rational(283, yDpi, 1), Short(296, {2})};
    page.strips.push_back(EncodeJbig(plane));
    return page;
}

std::string WriteDocument(const std::string& path, const std::vector<TiffPage>& pages)
{
    std::vector<uint8_t> bytes = BuildTiff(pages);
    WriteFileText(path, std::string(bytes.begin(), bytes.end()));
    return path;
}

// A page bitmap file as read back: its header fields and its rows, top row first.
struct PageFile {
    bool read = false;
    int32_t width = 0, height = 0, xPpm = 0, yPpm = 0;
    uint16_t bits = 0;
    uint32_t offset = 0, imageSize = 0, stride = 0;
    std::vector<uint8_t> file;

    const uint8_t* Row(uint32_t y) const { return file.data() + offset + size_t(y) * stride; }
    bool White(uint32_t x, uint32_t y) const { return (Row(y)[x / 8] >> (7 - x % 8)) & 1; }
};

int32_t Field32(const std::vector<uint8_t>& b, size_t at)
{
    return int32_t(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24);
}

PageFile ReadPageFile(const std::string& path)
{
    PageFile p;
    std::string text = ReadFileText(path);
    p.file.assign(text.begin(), text.end());
    if (p.file.size() < 54)
        return p;
    p.offset = uint32_t(Field32(p.file, 10));
    p.width = Field32(p.file, 18);
    p.height = Field32(p.file, 22);
    p.bits = uint16_t(p.file[28] | p.file[29] << 8);
    p.imageSize = uint32_t(Field32(p.file, 34));
    p.xPpm = Field32(p.file, 38);
    p.yPpm = Field32(p.file, 42);
    p.stride = p.height > 0 ? p.imageSize / uint32_t(p.height) : 0;
    p.read = p.file.size() == p.offset + p.imageSize;
    return p;
}

// The part of the browser page the options panel reads for the conversion: the fixed size radios
// and the paper list, whose items carry the string ids of the A4 family's entries.
class OptionsPanelWindow {
public:
    OptionsPanelWindow()
    {
        page_ = CreateWindowA("STATIC", "page", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr, nullptr, nullptr);
        CreateWindowA("BUTTON", "Off", WS_CHILD | BS_AUTORADIOBUTTON, 0, 0, 50, 20, page_, HMENU(FixedSizeOffId), nullptr, nullptr);
        CreateWindowA("BUTTON", "On", WS_CHILD | BS_AUTORADIOBUTTON, 0, 20, 50, 20, page_, HMENU(FixedSizeOnId), nullptr, nullptr);
        list_ = CreateWindowA("COMBOBOX", "", WS_CHILD | CBS_DROPDOWNLIST, 0, 40, 100, 100, page_, HMENU(PaperListId), nullptr, nullptr);
        const struct {
            const char* name;
            LPARAM id;
        } papers[] = {{"A4", 2003}, {"A5(LEF)", 2004}, {"F4", 2005}, {"no data", 0}, {"missing", 2010}};
        for (const auto& paper : papers) {
            LRESULT index = SendMessageA(list_, CB_ADDSTRING, 0, LPARAM(paper.name));
            SendMessageA(list_, CB_SETITEMDATA, WPARAM(index), paper.id);
        }
        BrowserState.page = page_;
    }
    ~OptionsPanelWindow()
    {
        BrowserState.page = nullptr;
        DestroyWindow(page_);
    }
    void SetFixedSize(bool on, int paperIndex)
    {
        CheckRadioButton(page_, FixedSizeOffId, FixedSizeOnId, on ? FixedSizeOnId : FixedSizeOffId);
        SendMessageA(list_, CB_SETCURSEL, WPARAM(paperIndex), 0);
    }

private:
    HWND page_ = nullptr;
    HWND list_ = nullptr;
};

class PageBuilder : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(AttachCore("[TWAIN]\r\nDriverName=Orvel Source\r\n"));
        InitCapabilityValues();
        ASSERT_EQ(1, CreateWorkDirectory());
        work = WorkDirectory;
        CurrentPageFile[0] = '\0';
    }
    void TearDown() override
    {
        FreePageDib();
        CurrentPageFile[0] = '\0';
        DeleteDirectoryTree(work.c_str());
        WorkDirectory[0] = '\0';
        WriteCoreIni("");
    }

    void ConvertTo(bool resolutionChange, float dpi, int pixelType)
    {
        conversion.resolutionChange = resolutionChange;
        conversion.targetXResolution = dpi;
        conversion.targetYResolution = dpi;
        conversion.pixelType = pixelType;
    }
    void FixedSize(bool on, int32_t width, int32_t height)
    {
        conversion.fixedSizeOn = on;
        conversion.paperWidth = width;
        conversion.paperHeight = height;
    }

    // Builds the page in the work directory with the conversion when asked; returns the message
    // handed back (NoBuildMessage when built). The builder shows nothing itself.
    int Build(const std::string& document, int page, bool convert, int expected, PageInfo* info = nullptr)
    {
        BoxWatcher boxes;
        PageBuildRequest request;
        request.documentPath = document.c_str();
        request.page = page;
        request.workDirectory = WorkDirectory;
        request.convert = convert;
        request.conversion = conversion;
        PageBuildResult result = BuildPageBitmap(request);
        EXPECT_EQ(expected, result.built);
        if (info && result.built)
            *info = result.info;
        EXPECT_TRUE(boxes.Boxes().empty());
        return result.built ? NoBuildMessage : result.messageId;
    }

    std::string work;
    ConversionSettings conversion;
};

constexpr int Built = NoBuildMessage;

}  // namespace

TEST_F(PageBuilder, WithoutConversionThePageIsWrittenAsDecoded)
{
    const Plane plane = MarkedPage(1728, 2200);
    std::string document = WriteDocument(work + "0000ABCD.tif", {JbigPage(plane, 200, 100)});
    // The transfer settings do not matter without conversion.
    ConvertTo(true, 400, 1);
    PageInfo info;
    EXPECT_EQ(Built, Build(document, 1, false, 1, &info));
    EXPECT_EQ(1728, info.width);
    EXPECT_EQ(2200, info.height);
    EXPECT_EQ(200, info.xResolution);
    EXPECT_EQ(100, info.yResolution);

    std::string page = work + "0000ABCD.tif~001.bmp";
    EXPECT_EQ(page, CurrentPageFile);
    EXPECT_EQ(1728, CurrentPageHeader.biWidth);
    EXPECT_EQ(475200u, CurrentPageHeader.biSizeImage);
    PageFile file = ReadPageFile(page);
    ASSERT_TRUE(file.read);
    EXPECT_EQ(475262u, file.file.size());
    EXPECT_EQ(1, file.bits);
    EXPECT_EQ(7874, file.xPpm);
    EXPECT_EQ(3937, file.yPpm);
    for (uint32_t y = 0; y < plane.height; ++y)
        for (uint32_t x = 0; x < file.stride * 8; ++x)
            ASSERT_EQ(x >= plane.width || !plane.Black(x, y), file.White(x, y)) << x << "," << y;
    // Only the document and its page file are left: the "Bit" file is gone.
    EXPECT_EQ((std::vector<std::string>{"0000ABCD.tif", "0000ABCD.tif~001.bmp"}), FilesIn(work));
}

TEST_F(PageBuilder, NoChangeInBlackAndWhiteWritesTheDecodedPage)
{
    std::string document = WriteDocument(work + "00000001.tif", {JbigPage(MarkedPage(1728, 1100), 200, 100)});
    ASSERT_EQ(Built, Build(document, 1, false, 1));
    std::string decoded = ReadFileText(CurrentPageFile);
    ConvertTo(false, 300, 0);
    PageInfo info;
    EXPECT_EQ(Built, Build(document, 1, true, 1, &info));
    EXPECT_EQ(decoded, ReadFileText(CurrentPageFile));
    EXPECT_EQ(100, info.yResolution);
}

TEST_F(PageBuilder, ResolutionChangeScalesThePage)
{
    const Plane plane = MarkedPage(1728, 2200);
    std::string document = WriteDocument(work + "00000002.tif", {JbigPage(plane, 200, 200)});
    ConvertTo(true, 400, 0);
    PageInfo info;
    ASSERT_EQ(Built, Build(document, 1, true, 1, &info));
    EXPECT_EQ(3456, info.width);
    EXPECT_EQ(4400, info.height);
    EXPECT_EQ(400, info.xResolution);
    PageFile file = ReadPageFile(CurrentPageFile);
    ASSERT_TRUE(file.read);
    EXPECT_EQ(3456, file.width);
    EXPECT_EQ(4400, file.height);
    EXPECT_EQ(432u, file.stride);
    EXPECT_EQ(15748, file.xPpm);
    // Every source pixel became two by two.
    for (uint32_t y = 0; y < 4400; y += 7)
        for (uint32_t x = 0; x < 3456; x += 3)
            ASSERT_EQ(!plane.Black(x / 2, y / 2), file.White(x, y)) << x << "," << y;

    // A standard-resolution fax page to 200 dpi: the height doubles, the width stays.
    document = WriteDocument(work + "00000003.tif", {JbigPage(MarkedPage(1728, 1100), 200, 100)});
    ConvertTo(true, 200, 0);
    ASSERT_EQ(Built, Build(document, 1, true, 1, &info));
    EXPECT_EQ(1728, info.width);
    EXPECT_EQ(2200, info.height);
    EXPECT_EQ(200, info.yResolution);
    EXPECT_EQ(7874, ReadPageFile(CurrentPageFile).yPpm);
}

TEST_F(PageBuilder, FixedSizeCutsOrPadsThePage)
{
    FixedSize(true, 826, 1168);  // A4
    ConvertTo(false, 200, 0);
    // Wider than A4 at 200 dpi and shorter: the right edge is cut, the bottom is white.
    const Plane wide = MarkedPage(1728, 2200);
    std::string document = WriteDocument(work + "00000004.tif", {JbigPage(wide, 200, 200)});
    PageInfo info;
    ASSERT_EQ(Built, Build(document, 1, true, 1, &info));
    EXPECT_EQ(1652, info.width);
    EXPECT_EQ(2336, info.height);
    PageFile file = ReadPageFile(CurrentPageFile);
    ASSERT_TRUE(file.read);
    ASSERT_EQ(208u, file.stride);
    for (uint32_t y = 0; y < 2336; ++y)
        for (uint32_t x = 0; x < 1652; x += (y % 10 ? 13 : 1))
            ASSERT_EQ(y >= 2200 || !wide.Black(x, y), file.White(x, y)) << x << "," << y;

    // A smaller page at 300 dpi gets white margins at the right and the bottom.
    const Plane small = MarkedPage(1000, 900);
    document = WriteDocument(work + "00000005.tif", {JbigPage(small, 300, 300)});
    ConvertTo(false, 300, 1);
    ASSERT_EQ(Built, Build(document, 1, true, 1, &info));
    EXPECT_EQ(2478, info.width);
    EXPECT_EQ(3504, info.height);
    file = ReadPageFile(CurrentPageFile);
    ASSERT_TRUE(file.read);
    EXPECT_EQ(8, file.bits);
    for (uint32_t y = 0; y < 3504; y += 5)
        for (uint32_t x = 0; x < 2478; x += 3)
            ASSERT_EQ((x < 1000 && y < 900 && small.Black(x, y)) ? 0 : 255, file.Row(y)[x]) << x << "," << y;
}

TEST_F(PageBuilder, GrayAndRgbRows)
{
    const Plane plane = MarkedPage(1001, 80);
    std::string document = WriteDocument(work + "00000006.tif", {JbigPage(plane, 200, 200)});
    ConvertTo(false, 200, 1);
    ASSERT_EQ(Built, Build(document, 1, true, 1));
    PageFile gray = ReadPageFile(CurrentPageFile);
    ASSERT_TRUE(gray.read);
    EXPECT_EQ(1078u, gray.offset);
    EXPECT_EQ(1004u, gray.stride);
    ConvertTo(false, 200, 2);
    ASSERT_EQ(Built, Build(document, 1, true, 1));
    PageFile rgb = ReadPageFile(CurrentPageFile);
    ASSERT_TRUE(rgb.read);
    EXPECT_EQ(54u, rgb.offset);
    EXPECT_EQ(3004u, rgb.stride);
    EXPECT_EQ(24, rgb.bits);
    for (uint32_t y = 0; y < 80; ++y) {
        for (uint32_t x = 0; x < 1004; ++x) {
            const uint8_t level = x < 1001 && plane.Black(x, y) ? 0 : 255;
            ASSERT_EQ(level, gray.Row(y)[x]) << x << "," << y;
            if (x < 1001) {
                ASSERT_EQ(level, rgb.Row(y)[3 * x]);
                ASSERT_EQ(level, rgb.Row(y)[3 * x + 2]);
            }
        }
    }
}

TEST_F(PageBuilder, PageNumberNamesThePageFile)
{
    std::vector<TiffPage> pages;
    for (uint32_t n = 1; n <= 12; ++n)
        pages.push_back(JbigPage(MarkedPage(100 + n, 60), 200, 200));
    std::string document = WriteDocument(work + "00001234.tif", pages);
    PageInfo info;
    ASSERT_EQ(Built, Build(document, 12, false, 1, &info));
    EXPECT_EQ(112, info.width);
    EXPECT_EQ(work + "00001234.tif~012.bmp", CurrentPageFile);
    EXPECT_TRUE(FileExists(work + "00001234.tif~012.bmp"));
}

TEST_F(PageBuilder, PageInfoWithoutDecoding)
{
    std::vector<TiffPage> pages;
    for (uint32_t n = 1; n <= 3; ++n)
        pages.push_back(JbigPage(MarkedPage(100 + n, 60 + n), 200, 100 * n));
    std::string document = WriteDocument(work + "00000010.tif", pages);
    BoxWatcher boxes;
    PageInfo info;
    ASSERT_EQ(1, GetTiffPageInfo(document.c_str(), 3, info));
    EXPECT_EQ(103, info.width);
    EXPECT_EQ(63, info.height);
    EXPECT_EQ(200, info.xResolution);
    EXPECT_EQ(300, info.yResolution);
    // Failures are silent and leave the document alone.
    EXPECT_EQ(0, GetTiffPageInfo(document.c_str(), 4, info));
    EXPECT_EQ(0, GetTiffPageInfo(document.c_str(), 0, info));
    EXPECT_EQ(0, GetTiffPageInfo((work + "missing.tif").c_str(), 1, info));
    EXPECT_EQ(0, GetTiffPageInfo("", 1, info));
    EXPECT_TRUE(FileExists(document));
    EXPECT_TRUE(boxes.Boxes().empty());
    // No page file either.
    EXPECT_EQ(std::vector<std::string>{"00000010.tif"}, FilesIn(work));
}

TEST_F(PageBuilder, OptionsPanelPaperSizesAndTheTransferConversion)
{
    int width = -1, height = -1;
    EXPECT_FALSE(FixedSizeOn());
    FixedSizeDimensions(width, height);
    EXPECT_EQ(0, width);
    EXPECT_EQ(0, height);
    // Without a page: the capabilities' resolution and pixel type, no fixed size.
    SetResolutionChangeRequested(true);
    SetXResolution(300);
    SetYResolution(400);
    SetPixelType(1);
    ConversionSettings settings = TransferConversionSettings();
    EXPECT_TRUE(settings.resolutionChange);
    EXPECT_EQ(300, settings.targetXResolution);
    EXPECT_EQ(400, settings.targetYResolution);
    EXPECT_EQ(1, settings.pixelType);
    EXPECT_FALSE(settings.fixedSizeOn);

    OptionsPanelWindow panel;
    const struct {
        int index;
        int width, height;
    } papers[] = {{0, 826, 1168}, {1, 826, 582}, {2, 826, 1300}, {3, 0, 0}, {4, 0, 0}, {-1, 0, 0}};
    for (const auto& paper : papers) {
        panel.SetFixedSize(true, paper.index);
        EXPECT_TRUE(FixedSizeOn());
        FixedSizeDimensions(width, height);
        EXPECT_EQ(paper.width, width) << paper.index;
        EXPECT_EQ(paper.height, height) << paper.index;
    }
    panel.SetFixedSize(true, 2);
    settings = TransferConversionSettings();
    EXPECT_TRUE(settings.fixedSizeOn);
    EXPECT_EQ(826, settings.paperWidth);
    EXPECT_EQ(1300, settings.paperHeight);
    panel.SetFixedSize(false, 0);
    EXPECT_FALSE(FixedSizeOn());
    EXPECT_FALSE(TransferConversionSettings().fixedSizeOn);
}

TEST_F(PageBuilder, FailuresAreReported)
{
    // An empty path fails without a word.
    EXPECT_EQ(NoBuildMessage, Build("", 1, true, 0));
    // 335: the document is not there.
    EXPECT_EQ(335, Build(work + "missing.tif", 1, true, 0));

    std::string document = WriteDocument(work + "00000007.tif", {JbigPage(MarkedPage(300, 200), 200, 200)});
    // 333: no temporary file in a work directory that is gone.
    strcpy(WorkDirectory, (work + "gone\\").c_str());
    EXPECT_EQ(333, Build(document, 1, false, 0));
    // 333 too without a work directory: no temporary file in whatever folder is current.
    WorkDirectory[0] = '\0';
    char current[MAX_PATH];
    GetCurrentDirectoryA(sizeof current, current);
    std::vector<std::string> before = FilesIn(std::string(current) + "\\");
    EXPECT_EQ(333, Build(document, 1, false, 0));
    EXPECT_EQ(before, FilesIn(std::string(current) + "\\"));
    strcpy(WorkDirectory, work.c_str());
    EXPECT_TRUE(FileExists(document));

    // 334: the conversion fails (fixed size on, no paper chosen); nothing is written.
    FixedSize(true, 0, 0);
    EXPECT_EQ(334, Build(document, 1, true, 0));
    FixedSize(false, 0, 0);
    EXPECT_FALSE(FileExists(document + "~001.bmp"));

    // 334: the page file cannot be written; no page is current any more.
    ASSERT_EQ(Built, Build(document, 1, false, 1));
    std::string page = document + "~001.bmp";
    ASSERT_EQ(page, CurrentPageFile);
    DeleteFileA(page.c_str());
    ASSERT_TRUE(CreateDirectoryA(page.c_str(), nullptr));
    EXPECT_EQ(334, Build(document, 1, false, 0));
    EXPECT_STREQ("", CurrentPageFile);
    RemoveDirectoryA(page.c_str());

    // 337: no such page; the document is deleted so that it is fetched again.
    EXPECT_EQ(337, Build(document, 2, false, 0));
    EXPECT_FALSE(FileExists(document));
    // 337: not a TIFF file.
    std::string text = work + "00000008.tif";
    WriteFileText(text, "this is not a TIFF document");
    EXPECT_EQ(337, Build(text, 1, true, 0));
    EXPECT_FALSE(FileExists(text));
    // No "Bit" file is left behind on any of these paths.
    EXPECT_EQ(std::vector<std::string>{}, FilesIn(work));
}

// Run only under a file size limit of 1 MB on the process (run_with_full_disk.sh): every write
// past it fails as on a full disk.
TEST_F(PageBuilder, DISABLED_FullDiskFailuresAreReported)
{
    // 336: the decoded page (1.3 MB) cannot all be written to the temporary file.
    std::string tall = WriteDocument(work + "00000009.tif", {JbigPage(MarkedPage(1728, 6000), 200, 200)});
    EXPECT_EQ(336, Build(tall, 1, false, 0));
    EXPECT_TRUE(FileExists(tall));
    EXPECT_EQ(std::vector<std::string>{"00000009.tif"}, FilesIn(work));

    // 334: the converted page (45 MB) cannot be written; the partial file is deleted.
    std::string document = WriteDocument(work + "0000000A.tif", {JbigPage(MarkedPage(1728, 2200), 200, 200)});
    ASSERT_EQ(Built, Build(document, 1, false, 1));
    ConvertTo(true, 400, 2);
    EXPECT_EQ(334, Build(document, 1, true, 0));
    EXPECT_STREQ("", CurrentPageFile);
    EXPECT_FALSE(FileExists(document + "~001.bmp"));
}
