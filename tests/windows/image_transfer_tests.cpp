// Image transfers run inside the test executable on pages the page builder makes from the test
// documents: every DG_IMAGE triplet in every state, whole batches by native, file and memory
// transfer with their pixels, counters, pending counts and what is left on disk, the progress
// window on its own thread, and a batch cancelled from it.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "device/config_store.h"
#include "device/storage_tables.h"
#include "imaging/windows/page_file_io.h"
#include "imaging/windows/page_file_store.h"
#include "source/capability_negotiation.h"
#include "source/capability_store.h"
#include "source/control_operations.h"
#include "source/image_operations.h"
#include "source/manager_notifications.h"
#include "source/page_sequencing.h"
#include "source/source_state.h"
#include "source/transfer_state.h"
#include "source/triplet_dispatch.h"
#include "tests/windows/support/attached_core.h"
#include "tests/windows/support/box_watcher.h"
#include "tests/windows/support/test_files.h"
#include "window/download_chain.h"
#include "window/progress_window.h"

namespace {

const char* const DriverName = "Transfer Test";

// The batch as these tests run it, without a source window: every page comes from the document
// in hand, converted to the transfer settings; no further document follows and nothing is deleted.
int PrepareFromDocumentInHand(int page)
{
    if (CurrentDocumentPath[0] == '\0')
        return 0;
    ProgressTick();
    if (!BuildTransferPage(page))
        return 0;
    ProgressTick();
    return 1;
}

void NoFurtherDocument() { CurrentDocumentPath[0] = '\0'; }

const BatchSteps DocumentInHand = {PrepareFromDocumentInHand, NoFurtherDocument, nullptr, ProgressStep,
                                   ProgressContinues};

// The test documents of the native build, as Wine sees them.
std::string DocumentsFolder()
{
    std::string path = "Z:" QRV_NATIVE_BUILD_DIR "/testdata/documents/";
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

uint32_t Field32(const std::string& b, size_t at)
{
    return uint8_t(b[at]) | uint8_t(b[at + 1]) << 8 | uint8_t(b[at + 2]) << 16 | uint32_t(uint8_t(b[at + 3])) << 24;
}

// A BMP or page bitmap file: its header fields and its stored rows.
struct BmpFile {
    std::string bytes;
    uint32_t offset = 0, width = 0, height = 0, bits = 0, imageSize = 0, stride = 0;
    bool ok = false;
    const char* Row(uint32_t stored) const { return bytes.data() + offset + size_t(stored) * stride; }
};

BmpFile ReadBmpFile(const std::string& path)
{
    BmpFile f;
    f.bytes = ReadFileText(path);
    if (f.bytes.size() < 54 || f.bytes[0] != 'B' || f.bytes[1] != 'M')
        return f;
    f.offset = Field32(f.bytes, 10);
    f.width = Field32(f.bytes, 18);
    f.height = Field32(f.bytes, 22);
    f.bits = uint8_t(f.bytes[28]);
    f.imageSize = Field32(f.bytes, 34);
    f.stride = f.height ? f.imageSize / f.height : 0;
    f.ok = Field32(f.bytes, 2) == f.bytes.size() && f.offset + uint64_t(f.imageSize) == f.bytes.size();
    return f;
}

// A reference page as jbgtopbm decoded it (P4: rows of whole bytes, 1 = black).
struct Pbm {
    uint32_t width = 0, height = 0, rowBytes = 0;
    std::string rows;
};

Pbm ReadPbm(const std::string& path)
{
    Pbm p;
    std::string text = ReadFileText(path);
    int header = 0;
    if (sscanf(text.c_str(), "P4 %u %u%n", &p.width, &p.height, &header) != 2)
        return {};
    p.rowBytes = (p.width + 7) / 8;
    p.rows = text.substr(size_t(header) + 1);
    return p;
}

// What a triplet does in one state.
struct Outcome {
    TW_UINT16 result;
    TW_UINT16 code;
    int nextState;  // 0: unchanged
    bool box;
};

const Outcome Ok{TWRC_SUCCESS, TWCC_SUCCESS, 0, false};
const Outcome Done{TWRC_XFERDONE, TWCC_SUCCESS, StateXferReady, false};
const Outcome Strip{TWRC_SUCCESS, TWCC_SUCCESS, StateTransferring, false};
const Outcome Seq{TWRC_FAILURE, TWCC_SEQERROR, 0, true};
const Outcome Proto{TWRC_FAILURE, TWCC_BADPROTOCOL, 0, true};
const Outcome NoPage{TWRC_FAILURE, TWCC_OPERATIONERROR, 0, true};

struct TripletCase {
    const char* name;
    TW_UINT16 argumentType;
    TW_UINT16 message;
    Outcome inState[5];  // states 3 to 7
};

union TripletData {
    TW_IMAGEINFO info;
    TW_IMAGELAYOUT layout;
    TW_IMAGEMEMXFER memory;
    TW_HANDLE dib;
    TW_PALETTE8 palette;
    TW_ELEMENT8 response[256];
    TW_CIECOLOR cie;
    TW_JPEGCOMPRESSION jpeg;
    unsigned char bytes[4096];
};

class ImageTransfer : public ::testing::Test {
protected:
    void SetUp() override { Attach(); }
    void TearDown() override
    {
        StopProgress();
        FreePageDib();
        CurrentPageFile[0] = '\0';
        CurrentDocumentPath[0] = '\0';
        if (!work.empty())
            DeleteDirectoryTree(work.c_str());
        WorkDirectory[0] = '\0';
        WriteCoreIni("");
    }

    // A freshly loaded and opened source with a work directory of its own.
    void Attach()
    {
        StopProgress();
        if (!work.empty())
            DeleteDirectoryTree(work.c_str());
        ASSERT_TRUE(AttachCore(std::string("[TWAIN]\r\nDriverName=") + DriverName + "\r\n"));
        app.Id = 7;
        strcpy(app.ProductName, "Transfer tests");
        TW_IDENTITY identity = SourceIdentity;
        identity.Id = 3;
        ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &identity));
        ASSERT_EQ(1, CreateWorkDirectory());
        work = WorkDirectory;
        CurrentPageFile[0] = '\0';
        memset(&CurrentPageHeader, 0, sizeof CurrentPageHeader);
    }

    TW_UINT16 Call(TW_UINT32 group, TW_UINT16 argumentType, TW_UINT16 message, void* data)
    {
        return DispatchTriplet(&app, group, argumentType, message, data);
    }

    // A test document copied into the work directory as the document on show.
    void UseDocument(const std::string& relative)
    {
        std::string source = DocumentsFolder() + relative;
        ASSERT_TRUE(FileExists(source)) << source << " (build the native preset first)";
        std::string path = work + "00000001.tif";
        ASSERT_TRUE(CopyFileA(source.c_str(), path.c_str(), FALSE));
        strcpy(CurrentDocumentPath, path.c_str());
    }

    // What the download command does for a batch of the current document: the range, the
    // counters, the progress window, the first page and the notification.
    void StartBatch(int first, int last, int total)
    {
        SetCurrentPage(first);
        SetRangeLastPage(last);
        SetRangePageCount(last - first + 1);
        SetFeederEnabled(true);
        StartDocumentPages();
        BeginBatch(DocumentInHand, total, -1);
        StartProgress(total);
        ASSERT_EQ(1, PrepareFromDocumentInHand(first));
        NotifyXferReady();
        ASSERT_EQ(StateXferReady, SourceState);
    }

    // Ends one page as the application does; returns the pending count.
    TW_UINT16 EndTransfer()
    {
        TW_PENDINGXFERS pending{};
        EXPECT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending));
        return pending.Count;
    }

    TW_IMAGEINFO Info()
    {
        TW_IMAGEINFO info{};
        EXPECT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info));
        return info;
    }

    void SetTransferFile(const std::string& name, TW_UINT16 format = TWFF_BMP)
    {
        TW_SETUPFILEXFER setup{};
        strcpy(setup.FileName, name.c_str());
        setup.Format = format;
        ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup));
    }

    // A small page file written by the store, made the current page.
    void SmallPage(int width, int height, int pixelType, int dpi = 200)
    {
        int stride = pixelType == 0 ? (width + 31) / 32 * 4 : pixelType == 1 ? (width + 3) / 4 * 4 : (3 * width + 3) / 4 * 4;
        std::vector<uint8_t> rows(size_t(stride) * height);
        for (size_t i = 0; i < rows.size(); ++i)
            rows[i] = uint8_t(i * 7 + 1);
        std::string path = work + "small.bmp";
        ASSERT_EQ(1, WritePageBitmapFile(path.c_str(), rows.data(), width, height, dpi, dpi, pixelType));
        ASSERT_EQ(1, SelectPageFile(path.c_str()));
    }

    std::string PageFile(int page) const
    {
        char name[32];
        snprintf(name, sizeof name, "00000001.tif~%03d.bmp", page);
        return work + name;
    }

    int BarPosition() const { return int(SendMessageA(GetDlgItem(ProgressState.Window, ProgressBarId), PBM_GETPOS, 0, 0)); }
    std::string ProgressLine() const
    {
        char text[128] = "";
        GetDlgItemTextA(ProgressState.Window, ProgressTextId, text, sizeof text);
        return text;
    }

    TW_IDENTITY app{};
    std::string work;
};

// Waits up to 10 s for a condition another thread brings about.
template <typename Condition>
bool WaitFor(Condition condition)
{
    for (int i = 0; i < 1000 && !condition(); ++i)
        Sleep(10);
    return condition();
}

}  // namespace

TEST_F(ImageTransfer, EveryImageTripletInEveryState)
{
    TempFolder out;
    const TripletCase cases[] = {
        {"info", DAT_IMAGEINFO, MSG_GET, {Seq, Seq, Seq, Ok, Seq}},
        {"info set", DAT_IMAGEINFO, MSG_SET, {Seq, Seq, Seq, Proto, Seq}},
        {"layout get", DAT_IMAGELAYOUT, MSG_GET, {Ok, Ok, Ok, Ok, Ok}},
        {"layout current", DAT_IMAGELAYOUT, MSG_GETCURRENT, {Ok, Ok, Ok, Ok, Ok}},
        {"layout default", DAT_IMAGELAYOUT, MSG_GETDEFAULT, {Ok, Ok, Ok, Ok, Ok}},
        {"layout set", DAT_IMAGELAYOUT, MSG_SET, {Ok, Ok, Ok, Ok, Ok}},
        {"layout reset", DAT_IMAGELAYOUT, MSG_RESET, {Ok, Ok, Ok, Ok, Ok}},
        {"layout first", DAT_IMAGELAYOUT, MSG_GETFIRST, {Proto, Proto, Proto, Proto, Proto}},
        // A page is opened only in state 6; elsewhere no page is open here.
        {"memory", DAT_IMAGEMEMXFER, MSG_GET, {NoPage, NoPage, NoPage, Strip, NoPage}},
        {"memory set", DAT_IMAGEMEMXFER, MSG_SET, {Proto, Proto, Proto, Proto, Proto}},
        {"native", DAT_IMAGENATIVEXFER, MSG_GET, {Seq, Seq, Seq, Done, Seq}},
        {"native set", DAT_IMAGENATIVEXFER, MSG_SET, {Seq, Seq, Seq, Proto, Seq}},
        {"file", DAT_IMAGEFILEXFER, MSG_GET, {Done, Done, Done, Done, Done}},
        {"file set", DAT_IMAGEFILEXFER, MSG_SET, {Proto, Proto, Proto, Proto, Proto}},
        {"palette get", DAT_PALETTE8, MSG_GET, {Seq, Ok, Ok, Ok, Seq}},
        {"palette default", DAT_PALETTE8, MSG_GETDEFAULT, {Seq, Ok, Ok, Ok, Seq}},
        {"palette set", DAT_PALETTE8, MSG_SET, {Seq, Ok, Ok, Ok, Seq}},
        {"palette reset", DAT_PALETTE8, MSG_RESET, {Seq, Ok, Ok, Ok, Seq}},
        {"palette current", DAT_PALETTE8, MSG_GETCURRENT, {Seq, Proto, Proto, Proto, Seq}},
        {"palette next", DAT_PALETTE8, MSG_GETNEXT, {Seq, Proto, Proto, Proto, Seq}},
        {"grey get", DAT_GRAYRESPONSE, MSG_GET, {Ok, Ok, Ok, Ok, Ok}},
        {"grey set", DAT_GRAYRESPONSE, MSG_SET, {Ok, Ok, Ok, Ok, Ok}},
        {"grey reset", DAT_GRAYRESPONSE, MSG_RESET, {Ok, Ok, Ok, Ok, Ok}},
        {"rgb get", DAT_RGBRESPONSE, MSG_GET, {Ok, Ok, Ok, Ok, Ok}},
        {"rgb set", DAT_RGBRESPONSE, MSG_SET, {Ok, Ok, Ok, Ok, Ok}},
        {"rgb reset", DAT_RGBRESPONSE, MSG_RESET, {Ok, Ok, Ok, Ok, Ok}},
        {"cie", DAT_CIECOLOR, MSG_GET, {Ok, Ok, Ok, Ok, Ok}},
        {"cie set", DAT_CIECOLOR, MSG_SET, {Ok, Ok, Ok, Ok, Ok}},
        {"jpeg", DAT_JPEGCOMPRESSION, MSG_GET, {Ok, Ok, Ok, Ok, Ok}},
        {"jpeg set", DAT_JPEGCOMPRESSION, MSG_SET, {Ok, Ok, Ok, Ok, Ok}},
    };

    uint8_t stripBuffer[8];
    for (const TripletCase& c : cases) {
        for (int state = StateLoaded; state <= StateTransferring; ++state) {
            SCOPED_TRACE(std::string(c.name) + " in state " + std::to_string(state));
            Attach();
            // A 1-bit page of 5 rows of 4 bytes: a strip of 8 bytes leaves the page open.
            SmallPage(17, 5, 0);
            std::string target = out / (std::string(c.name) + std::to_string(state) + ".bmp");
            strcpy(TransferFileName, target.c_str());
            if (state == StateLoaded)
                SourceState = StateLoaded;
            if (state >= StateEnabled)
                SourceState = StateEnabled;
            if (state >= StateXferReady)
                NotifyXferReady();
            if (state == StateTransferring)
                SourceState = StateTransferring;

            TripletData data{};
            data.memory.Memory = {TWMF_APPOWNS | TWMF_POINTER, sizeof stripBuffer, stripBuffer};
            ConditionCode = TWCC_BADVALUE;
            const Outcome& expected = c.inState[state - StateLoaded];
            BoxWatcher boxes;
            EXPECT_EQ(expected.result, Call(DG_IMAGE, c.argumentType, c.message, &data));
            // Every image triplet starts from success; a refusal sets its own code.
            EXPECT_EQ(expected.code, ConditionCode);
            EXPECT_EQ(expected.nextState ? expected.nextState : state, SourceState);
            EXPECT_EQ(expected.box ? 1u : 0u, boxes.Boxes().size());
            if (expected.box && !boxes.Boxes().empty()) {
                EXPECT_EQ("Application error.", boxes.Boxes()[0].text);
                EXPECT_EQ(DriverName, boxes.Boxes()[0].caption);
            }
            if (c.argumentType == DAT_IMAGENATIVEXFER && expected.result == TWRC_XFERDONE) {
                EXPECT_NE(nullptr, data.dib);
                GlobalFree(data.dib);
            }
            // The default format is TIFF, whatever the name ends in.
            if (c.argumentType == DAT_IMAGEFILEXFER) {
                EXPECT_EQ(expected.result == TWRC_XFERDONE, ReadFileText(target).rfind(std::string("II*\0", 4), 0) == 0);
            }
        }
    }
}

TEST_F(ImageTransfer, ThePageIsDescribedAsItsFileSays)
{
    SourceState = StateXferReady;
    TW_PALETTE8 palette{};
    // No page prepared yet: no palette rather than a division by zero.
    palette.NumColors = 99;
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_PALETTE8, MSG_GET, &palette));
    EXPECT_EQ(0, palette.NumColors);

    const struct {
        int pixelType, dpi, bits, samples, colours;
    } pages[] = {{0, 200, 1, 1, 2}, {1, 300, 8, 1, 256}, {2, 400, 24, 3, 0}};
    for (const auto& page : pages) {
        SCOPED_TRACE(page.bits);
        SmallPage(33, 9, page.pixelType, page.dpi);
        SetPixelType(page.pixelType);
        TW_IMAGEINFO info = Info();
        // 7874, 11811 and 15748 pixels per metre give the dots per inch back.
        EXPECT_EQ(page.dpi, info.XResolution.Whole);
        EXPECT_EQ(page.dpi, info.YResolution.Whole);
        EXPECT_EQ(33, info.ImageWidth);
        EXPECT_EQ(9, info.ImageLength);
        EXPECT_EQ(page.bits, info.BitsPerPixel);
        EXPECT_EQ(page.pixelType, info.PixelType);
        EXPECT_EQ(page.samples, info.SamplesPerPixel);
        EXPECT_EQ(page.bits == 24 ? 8 : page.bits, info.BitsPerSample[0]);
        EXPECT_EQ(page.bits == 24 ? 8 : 0, info.BitsPerSample[3]);

        ASSERT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_PALETTE8, MSG_GET, &palette));
        EXPECT_EQ(page.colours, palette.NumColors);
        for (int i = 0; i < page.colours; ++i) {
            int level = page.colours == 2 ? i * 255 : i;
            ASSERT_EQ(i, palette.Colors[i].Index);
            ASSERT_EQ(level, palette.Colors[i].Channel1);
            ASSERT_EQ(level, palette.Colors[i].Channel3);
        }
    }

    SetCurrentPage(4);
    TW_IMAGELAYOUT layout{};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GETDEFAULT, &layout));
    TW_FIX32 width = ToFix32(GetPhysicalWidth());
    EXPECT_EQ(width.Whole, layout.Frame.Right.Whole);
    EXPECT_EQ(width.Frac, layout.Frame.Right.Frac);
    EXPECT_EQ(ToFix32(GetPhysicalHeight()).Whole, layout.Frame.Bottom.Whole);
    EXPECT_EQ(4u, layout.PageNumber);
}

// The layout and the resolutions in each unit the application may choose: before a page, the
// physical size (in pixels at the resolution asked for); for a portrait page and a landscape
// page of half the vertical resolution, the page's own size and resolution; the default layout
// stays the physical size while a page is ready.
TEST_F(ImageTransfer, LayoutAndResolutionInEveryUnit)
{
    auto setUnits = [&](TW_UINT16 units) {
        TW_UINT16 item = units;
        TW_CAPABILITY capability{ICAP_UNITS, TWON_ONEVALUE, nullptr};
        ASSERT_EQ(TWCC_SUCCESS, BuildOneValue(&capability, TWTY_UINT16, &item));
        ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability));
        GlobalFree(capability.hContainer);
    };
    auto layoutOf = [&](TW_UINT16 message) {
        TW_IMAGELAYOUT layout{};
        EXPECT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_IMAGELAYOUT, message, &layout));
        EXPECT_EQ(0.0f, FromFix32(layout.Frame.Left));
        EXPECT_EQ(0.0f, FromFix32(layout.Frame.Top));
        return std::pair<double, double>(FromFix32(layout.Frame.Right), FromFix32(layout.Frame.Bottom));
    };
    auto page = [&](int width, int height, int xDpi, int yDpi) {
        std::vector<uint8_t> rows(size_t((width + 31) / 32 * 4) * height, 0xFF);
        std::string path = work + "shape.bmp";
        ASSERT_EQ(1, WritePageBitmapFile(path.c_str(), rows.data(), width, height, xDpi, yDpi, 0));
        ASSERT_EQ(1, SelectPageFile(path.c_str()));
    };
    const double fix = 1.0 / 32768;
    const struct {
        TW_UINT16 units;
        double perInch;       // lengths: inches times this (pixels: times the resolution)
        double resolution;    // pixels per unit at 200 dpi
        bool pixels;
    } units[] = {{TWUN_INCHES, 1, 200, false}, {TWUN_CENTIMETERS, 2.54, 200 / 2.54, false}, {TWUN_PIXELS, 0, 1, true}};
    for (const auto& u : units) {
        SCOPED_TRACE("units " + std::to_string(u.units));
        setUnits(u.units);
        auto length = [&](double inches, double dpi) { return u.pixels ? inches * dpi : inches * u.perInch; };

        SourceState = StateOpen;
        memset(&CurrentPageHeader, 0, sizeof CurrentPageHeader);
        auto frame = layoutOf(MSG_GET);
        EXPECT_NEAR(length(8.64, 200), frame.first, fix);
        EXPECT_NEAR(length(11.0, 200), frame.second, fix);

        SourceState = StateXferReady;
        page(1728, 2376, 200, 200);
        frame = layoutOf(MSG_GETCURRENT);
        EXPECT_NEAR(u.pixels ? 1728 : length(8.64, 200), frame.first, fix);
        EXPECT_NEAR(u.pixels ? 2376 : length(11.88, 200), frame.second, fix);
        TW_IMAGEINFO info = Info();
        EXPECT_NEAR(u.resolution, FromFix32(info.XResolution), fix);
        EXPECT_NEAR(u.resolution, FromFix32(info.YResolution), fix);

        page(2376, 864, 200, 100);
        SourceState = StateTransferring;
        frame = layoutOf(MSG_GET);
        EXPECT_NEAR(u.pixels ? 2376 : length(11.88, 200), frame.first, fix);
        EXPECT_NEAR(u.pixels ? 864 : length(8.64, 100), frame.second, fix);
        SourceState = StateXferReady;
        info = Info();
        EXPECT_NEAR(u.resolution, FromFix32(info.XResolution), fix);
        EXPECT_NEAR(u.pixels ? 1 : u.resolution / 2, FromFix32(info.YResolution), fix);
        frame = layoutOf(MSG_GETDEFAULT);
        EXPECT_NEAR(length(8.64, 200), frame.first, fix);
        EXPECT_NEAR(length(11.0, 200), frame.second, fix);
    }
}

// Three pages of three codings, all of them by native transfer in black and white: each DIB is
// the reference decode of its page, bottom row first; the progress window counts and the last
// end of transfer reports nothing pending and asks to be closed.
TEST_F(ImageTransfer, NativeBatchHandsOverEveryPageAsABottomUpDib)
{
    UseDocument("multipage\\mixed.tif");
    SetPixelType(0);
    SetResolutionChangeRequested(false);
    StartBatch(1, 3, 3);
    ASSERT_TRUE(WaitFor([] { return ProgressState.Window != nullptr; }));
    EXPECT_NE(GetCurrentThreadId(), GetWindowThreadProcessId(ProgressState.Window, nullptr));
    EXPECT_TRUE(IsWindowVisible(ProgressState.Window));
    char caption[64];
    GetWindowTextA(ProgressState.Window, caption, sizeof caption);
    EXPECT_STREQ(DriverName, caption);
    EXPECT_EQ("1/3 transferring", ProgressLine());
    EXPECT_EQ(2, BarPosition());  // the document is there, the page built

    const char* references[] = {"ref\\ccitt1.pbm", "ref\\ccitt2.pbm", "ref\\ccitt1.pbm"};
    for (int page = 1; page <= 3; ++page) {
        SCOPED_TRACE(page);
        EXPECT_EQ(page, GetCurrentPage());
        EXPECT_EQ(4 - page, GetPagesRemaining());
        TW_IMAGEINFO info = Info();
        Pbm reference = ReadPbm(DocumentsFolder() + references[page - 1]);
        ASSERT_GT(reference.height, 0u);
        EXPECT_EQ(int32_t(reference.width), info.ImageWidth);
        EXPECT_EQ(int32_t(reference.height), info.ImageLength);
        EXPECT_EQ(1, info.BitsPerPixel);
        EXPECT_EQ(200, info.XResolution.Whole);

        TW_HANDLE dib = nullptr;
        ASSERT_EQ(TWRC_XFERDONE, Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib));
        EXPECT_EQ(StateXferReady, SourceState);
        ASSERT_NE(nullptr, dib);
        const auto* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(dib));
        ASSERT_NE(nullptr, header);
        EXPECT_EQ(40u, header->biSize);
        EXPECT_EQ(2u, header->biClrUsed);
        EXPECT_EQ(40 + 8 + header->biSizeImage, GlobalSize(dib));
        const uint8_t* bits = reinterpret_cast<const uint8_t*>(header) + 48;
        uint32_t stride = header->biSizeImage / reference.height;
        int mismatches = 0;
        for (uint32_t y = 0; y < reference.height; ++y) {
            const uint8_t* row = bits + size_t(reference.height - 1 - y) * stride;
            for (uint32_t i = 0; i < reference.rowBytes; ++i)
                mismatches += row[i] != uint8_t(~reference.rows[size_t(y) * reference.rowBytes + i]);
        }
        EXPECT_EQ(0, mismatches);
        GlobalUnlock(dib);
        GlobalFree(dib);

        // The bar stands at three units per page done; the next page is prepared meanwhile.
        EXPECT_EQ(page < 3 ? 3 * page + 2 : 9, BarPosition());
        EXPECT_EQ(page < 3 ? std::to_string(page + 1) + "/3 transferring" : "3/3 transferring", ProgressLine());
        EXPECT_FALSE(CloseRequested);
        EXPECT_EQ(page < 3 ? 0xFFFF : 0, EndTransfer());
    }
    // Nothing pending: the close request has stopped the progress window.
    EXPECT_TRUE(CloseRequested);
    EXPECT_EQ(nullptr, ProgressState.Thread);
    EXPECT_EQ(nullptr, ProgressState.Window);
    EXPECT_EQ(0, GetPagesRemaining());
    // Native transfers leave their page files for the work directory's removal.
    EXPECT_TRUE(FileExists(PageFile(1)) && FileExists(PageFile(2)) && FileExists(PageFile(3)));
}

// Grey pages by file transfer, each where the application asked and in the format it set up,
// whatever the name ends in: a standard BMP with the 256 greys, its rows the page file's rows in
// bottom-up order, under an upper-case name; then a TIFF under a ".bmp" name, with the page's
// size and resolution. A file that cannot be written leaves the counters and no file.
TEST_F(ImageTransfer, FileBatchWritesEachPageWhereAndAsTheApplicationAsked)
{
    TempFolder out;
    UseDocument("multipage\\mixed.tif");
    SetPixelType(1);
    SetResolutionChangeRequested(true);
    SetXResolution(100);
    SetYResolution(100);
    StartBatch(2, 3, 2);

    // Unwritable: refused, nothing left behind, the page still there to take.
    BoxWatcher boxes;
    for (TW_UINT16 format : {TWFF_BMP, TWFF_TIFF}) {
        SetTransferFile(out / "first.bmp", format);
        DeleteFileA((out / "first.bmp").c_str());
        strcpy(TransferFileName, (out / "missing\\page.bmp").c_str());
        EXPECT_EQ(TWRC_FAILURE, Call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr));
        EXPECT_EQ(TWCC_BADPROTOCOL, ConditionCode);
    }
    EXPECT_EQ(2u, boxes.Boxes().size());
    EXPECT_EQ(std::vector<std::string>{}, FilesIn(out.path()));
    EXPECT_EQ(2, GetCurrentPage());
    EXPECT_EQ(2, GetPagesRemaining());
    EXPECT_EQ(StateXferReady, SourceState);

    BmpFile pageFile = ReadBmpFile(PageFile(2));
    ASSERT_TRUE(pageFile.ok);
    TW_IMAGEINFO info = Info();
    EXPECT_EQ(8, info.BitsPerPixel);
    EXPECT_EQ(100, info.XResolution.Whole);
    EXPECT_EQ(864, info.ImageWidth);
    SetTransferFile(out / "page2.BMP");
    ASSERT_EQ(TWRC_XFERDONE, Call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr));
    EXPECT_EQ(TWCC_SUCCESS, ConditionCode);
    BmpFile written = ReadBmpFile(out / "page2.BMP");
    ASSERT_TRUE(written.ok);
    EXPECT_EQ(1078u, written.offset);
    EXPECT_EQ(8u, written.bits);
    EXPECT_EQ(pageFile.width, written.width);
    EXPECT_EQ(pageFile.height, written.height);
    EXPECT_EQ(0, memcmp(written.bytes.data() + 14, pageFile.bytes.data() + 14, 40 + 1024));
    int mismatches = 0;
    for (uint32_t y = 0; y < written.height; ++y)
        mismatches += memcmp(written.Row(written.height - 1 - y), pageFile.Row(y), written.stride) != 0;
    EXPECT_EQ(0, mismatches);
    // The page is not blank.
    EXPECT_NE(std::string::npos, pageFile.bytes.find('\0', pageFile.offset));
    EXPECT_EQ(0xFFFF, EndTransfer());

    pageFile = ReadBmpFile(PageFile(3));
    SetTransferFile(out / "page3.bmp", TWFF_TIFF);
    ASSERT_EQ(TWRC_XFERDONE, Call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr));
    EXPECT_EQ(0u, ReadFileText(out / "page3.bmp").rfind(std::string("II*\0", 4), 0));
    PageInfo tiff;
    ASSERT_EQ(1, GetTiffPageInfo((out / "page3.bmp").c_str(), 1, tiff));
    EXPECT_EQ(int32_t(pageFile.width), tiff.width);
    EXPECT_EQ(int32_t(pageFile.height), tiff.height);
    EXPECT_EQ(100, tiff.xResolution);
    EXPECT_EQ(100, tiff.yResolution);
    EXPECT_EQ(0, EndTransfer());
    EXPECT_TRUE(CloseRequested);
    EXPECT_EQ((std::vector<std::string>{"page2.BMP", "page3.bmp"}), FilesIn(out.path()));
}

// RGB pages by memory transfer in strips of whole rows from a 16384-byte buffer: red, green,
// blue in file order (top row first), YOffset counting, state 7 between strips, and each page
// file deleted after its last strip.
TEST_F(ImageTransfer, MemoryBatchStreamsStripsOfWholeRows)
{
    // Pages converted from bilevel documents are grey in every channel: a page of its own shows
    // the channels swapped, and the rows' padding untouched.
    SmallPage(13, 7, 2);
    BmpFile colours = ReadBmpFile(CurrentPageFile);
    ASSERT_EQ(40u, colours.stride);
    SourceState = StateXferReady;
    std::vector<uint8_t> whole(4096);
    TW_IMAGEMEMXFER one{};
    one.Memory = {TWMF_APPOWNS | TWMF_POINTER, TW_UINT32(whole.size()), whole.data()};
    ASSERT_EQ(TWRC_XFERDONE, Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &one));
    ASSERT_EQ(7u, one.Rows);
    for (uint32_t y = 0; y < 7; ++y) {
        const uint8_t* got = whole.data() + y * 40;
        const uint8_t* file = reinterpret_cast<const uint8_t*>(colours.Row(y));
        for (uint32_t x = 0; x < 13; ++x) {
            ASSERT_EQ(file[3 * x + 2], got[3 * x]) << x << "," << y;
            ASSERT_EQ(file[3 * x + 1], got[3 * x + 1]);
            ASSERT_EQ(file[3 * x], got[3 * x + 2]);
        }
        EXPECT_EQ(0, memcmp(file + 39, got + 39, 1));
    }
    EndTransfer();

    UseDocument("multipage\\mixed.tif");
    SetPixelType(2);
    SetResolutionChangeRequested(true);
    SetXResolution(130);  // 1123 pixels: rows with padding
    SetYResolution(130);
    StartBatch(1, 2, 2);

    std::vector<uint8_t> buffer(16384);
    for (int page = 1; page <= 2; ++page) {
        SCOPED_TRACE(page);
        BmpFile pageFile = ReadBmpFile(PageFile(page));
        ASSERT_TRUE(pageFile.ok);
        ASSERT_EQ(24u, pageFile.bits);
        ASSERT_EQ(1123u, pageFile.width);
        ASSERT_EQ(3372u, pageFile.stride);
        uint32_t rowsPerStrip = 16384 / 3372;
        uint32_t rows = 0, strips = 0, mismatches = 0;
        TW_UINT16 result = TWRC_SUCCESS;
        while (result == TWRC_SUCCESS) {
            TW_IMAGEMEMXFER strip;
            memset(&strip, 0xEE, sizeof strip);
            strip.Memory = {TWMF_APPOWNS | TWMF_POINTER, TW_UINT32(buffer.size()), buffer.data()};
            result = Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &strip);
            ASSERT_TRUE(result == TWRC_SUCCESS || result == TWRC_XFERDONE) << result;
            ++strips;
            EXPECT_EQ(TWCP_NONE, strip.Compression);
            EXPECT_EQ(3372u, strip.BytesPerRow);
            EXPECT_EQ(1123u, strip.Columns);
            EXPECT_EQ(0u, strip.XOffset);
            ASSERT_EQ(rows, strip.YOffset);
            ASSERT_EQ(strip.Rows * 3372u, strip.BytesWritten);
            ASSERT_EQ(std::min(rowsPerStrip, pageFile.height - rows), strip.Rows);
            for (uint32_t r = 0; r < strip.Rows; ++r) {
                const uint8_t* got = buffer.data() + size_t(r) * 3372;
                const uint8_t* file = reinterpret_cast<const uint8_t*>(pageFile.Row(rows + r));
                for (uint32_t x = 0; x < 1123; ++x)
                    mismatches += got[3 * x] != file[3 * x + 2] || got[3 * x + 1] != file[3 * x + 1] || got[3 * x + 2] != file[3 * x];
            }
            rows += strip.Rows;
            EXPECT_EQ(result == TWRC_SUCCESS ? StateTransferring : StateXferReady, SourceState);
            // The page file stays until its last strip.
            if (result == TWRC_SUCCESS) {
                EXPECT_TRUE(FileExists(PageFile(page)));
            }
        }
        EXPECT_EQ(0u, mismatches);
        EXPECT_EQ(pageFile.height, rows);
        EXPECT_EQ((pageFile.height + rowsPerStrip - 1) / rowsPerStrip, strips);
        EXPECT_FALSE(FileExists(PageFile(page)));
        EXPECT_EQ(page < 2 ? 0xFFFF : 0, EndTransfer());
    }
    EXPECT_TRUE(CloseRequested);
    EXPECT_EQ((std::vector<std::string>{"00000001.tif"}), FilesIn(work));
}

// A buffer shorter than a row makes no progress; a strip buffer given as a global memory handle
// is locked and filled no further than the block reaches; the page cut off under the transfer is
// a read error that leaves no page open; MSG_RESET mid-page lets the page file go.
TEST_F(ImageTransfer, MemoryTransferFailuresLeaveNoPageHalfOpen)
{
    SmallPage(100, 40, 1);  // rows of 100 bytes, 4000 bytes
    BmpFile pageFile = ReadBmpFile(CurrentPageFile);
    SourceState = StateXferReady;
    TW_IMAGEMEMXFER strip{};
    uint8_t small[50];
    strip.Memory = {TWMF_APPOWNS | TWMF_POINTER, sizeof small, small};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &strip));
    EXPECT_EQ(0u, strip.BytesWritten);
    EXPECT_EQ(0u, strip.Rows);
    EXPECT_EQ(StateTransferring, SourceState);

    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 250);
    strip.Memory = {TWMF_APPOWNS | TWMF_HANDLE, 100000, block};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &strip));
    EXPECT_EQ(200u, strip.BytesWritten);
    EXPECT_EQ(2u, strip.Rows);
    const uint8_t* locked = static_cast<const uint8_t*>(GlobalLock(block));
    EXPECT_EQ(0, memcmp(locked, pageFile.Row(0), 200));
    GlobalUnlock(block);
    GlobalFree(block);

    // The page file cut short: the read fails, the file goes, no further strip is read.
    HANDLE file = TransferState.PageFileHandle;
    SetFilePointer(file, 0, nullptr, FILE_END);
    BoxWatcher boxes;
    std::vector<uint8_t> buffer(16384);
    strip.Memory = {TWMF_APPOWNS | TWMF_POINTER, TW_UINT32(buffer.size()), buffer.data()};
    EXPECT_EQ(TWRC_FAILURE, Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &strip));
    EXPECT_EQ(TWCC_OPERATIONERROR, ConditionCode);
    EXPECT_FALSE(FileExists(CurrentPageFile));
    EXPECT_EQ(nullptr, TransferState.PageFileHandle);
    EXPECT_EQ(TWRC_FAILURE, Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &strip));
    EXPECT_EQ(TWCC_OPERATIONERROR, ConditionCode);
    EXPECT_EQ(std::vector<std::string>(2, "Application error."), BoxTexts(boxes.Boxes()));

    // A reset in the middle of a page: the batch ends and the page file is free to go.
    SmallPage(100, 40, 1);
    SetFeederEnabled(true);
    PageSequence.PagesRemaining = 3;
    SourceState = StateXferReady;
    strip.Memory.Length = 1000;
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &strip));
    EXPECT_EQ(StateTransferring, SourceState);
    TW_PENDINGXFERS pending{};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending));
    EXPECT_EQ(StateEnabled, SourceState);
    EXPECT_EQ(0, GetPagesRemaining());
    EXPECT_TRUE(CloseRequested);
    EXPECT_TRUE(DeleteFileA(CurrentPageFile));
    EXPECT_EQ(TWRC_FAILURE, Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &strip));
}

// Cancel in the progress window while the first of three pages is under way: that page is
// delivered, no further page is prepared, the application learns that nothing is pending and
// the source asks to be closed; the window has closed by itself.
TEST_F(ImageTransfer, CancelInTheProgressWindowEndsTheBatchAfterThePageUnderWay)
{
    UseDocument("multipage\\mixed.tif");
    SetPixelType(0);
    SetResolutionChangeRequested(false);
    StartBatch(1, 3, 3);
    ASSERT_TRUE(WaitFor([] { return ProgressState.Window != nullptr; }));
    HWND window = ProgressState.Window;
    HWND cancel = GetDlgItem(window, IDCANCEL);
    ASSERT_TRUE(IsWindowEnabled(cancel));
    // A person's click on the button.
    PostMessageA(cancel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    PostMessageA(cancel, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(window); }));
    EXPECT_FALSE(ProgressContinues());

    TW_HANDLE dib = nullptr;
    ASSERT_EQ(TWRC_XFERDONE, Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib));
    GlobalFree(dib);
    EXPECT_EQ(0, GetPagesRemaining());
    TW_PENDINGXFERS pending{};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending));
    EXPECT_EQ(0, pending.Count);
    EXPECT_EQ(0, EndTransfer());
    EXPECT_TRUE(CloseRequested);
    EXPECT_EQ(nullptr, ProgressState.Thread);
    EXPECT_FALSE(FileExists(PageFile(2)));
}

// An application that disables the source in the middle of a page: the progress window goes
// with the source window and the page file under way is free to be removed.
TEST_F(ImageTransfer, DisablingInTheMiddleOfAPageEndsItsWindowAndLetsItsFileGo)
{
    UseDocument("multipage\\mixed.tif");
    SetPixelType(0);
    SetResolutionChangeRequested(false);
    StartBatch(1, 3, 3);
    std::vector<uint8_t> buffer(16384);
    TW_IMAGEMEMXFER strip{};
    strip.Memory = {TWMF_APPOWNS | TWMF_POINTER, TW_UINT32(buffer.size()), buffer.data()};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &strip));
    ASSERT_EQ(StateTransferring, SourceState);
    ASSERT_NE(nullptr, ProgressState.Window);
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, nullptr));
    EXPECT_EQ(StateOpen, SourceState);
    EXPECT_EQ(nullptr, ProgressState.Thread);
    EXPECT_EQ(nullptr, ProgressState.Window);
    EXPECT_TRUE(DeleteFileA(PageFile(1).c_str()));

    // The batch ended with the window: nothing is pending for the next enable, and the next
    // batch's first strip starts at the top of its page.
    TW_PENDINGXFERS pending{};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending));
    EXPECT_EQ(0, pending.Count);
    SourceState = StateEnabled;
    StartBatch(1, 3, 3);
    strip = TW_IMAGEMEMXFER{};
    strip.Memory = {TWMF_APPOWNS | TWMF_POINTER, TW_UINT32(buffer.size()), buffer.data()};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &strip));
    EXPECT_EQ(0u, strip.YOffset);
    EXPECT_LT(0u, strip.Rows);
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, nullptr));
}

// A later page that cannot be built ends the document with the page builder's message; what
// was sent stays sent, and nothing is pending.
TEST_F(ImageTransfer, ALaterPageThatCannotBeBuiltEndsTheDocument)
{
    UseDocument("multipage\\mixed.tif");
    SetPixelType(0);
    SetResolutionChangeRequested(false);
    StartBatch(3, 4, 2);  // the document has three pages
    BoxWatcher boxes;
    TW_HANDLE dib = nullptr;
    ASSERT_EQ(TWRC_XFERDONE, Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib));
    GlobalFree(dib);
    EXPECT_EQ(std::vector<std::string>{"Unable to download the file."}, BoxTexts(boxes.Boxes()));
    EXPECT_EQ(DriverName, boxes.Boxes().at(0).caption);
    EXPECT_EQ(0, GetPagesRemaining());
    EXPECT_EQ(0, EndTransfer());
    EXPECT_TRUE(CloseRequested);
    // A page file that is gone cannot be handed over: refused, nothing changes.
    DeleteFileA(PageFile(3).c_str());
    boxes.Clear();
    EXPECT_EQ(TWRC_FAILURE, Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib));
    EXPECT_EQ(TWCC_BADPROTOCOL, ConditionCode);
    EXPECT_EQ(StateXferReady, SourceState);
    EXPECT_EQ(std::vector<std::string>{"Application error."}, BoxTexts(boxes.Boxes()));
}

// The window alone: its own thread, three units per page, the text, a total whose triple does
// not fit in 16 bits, a second start ignored, the close box, and a stop that waits.
TEST_F(ImageTransfer, ProgressWindowCountsOnItsOwnThread)
{
    StopProgress();  // no thread: returns at once
    StartProgress(3);
    ASSERT_TRUE(WaitFor([] { return ProgressState.Window != nullptr; }));
    HWND window = ProgressState.Window;
    HWND bar = GetDlgItem(window, ProgressBarId);
    PBRANGE range{};
    SendMessageA(bar, PBM_GETRANGE, FALSE, LPARAM(&range));
    EXPECT_EQ(0, range.iLow);
    EXPECT_EQ(9, range.iHigh);
    EXPECT_EQ("1/3 transferring", ProgressLine());
    StartProgress(7);  // ignored while the window runs
    EXPECT_EQ(window, ProgressState.Window);
    EXPECT_EQ(3, ProgressState.Total);

    ProgressTick();
    EXPECT_EQ(1, BarPosition());
    for (int done = 1; done <= 4; ++done) {
        ProgressStep();
        EXPECT_EQ(3 * std::min(done, 3), BarPosition());
        EXPECT_EQ(std::to_string(std::min(done + 1, 3)) + "/3 transferring", ProgressLine());
    }
    EXPECT_TRUE(ProgressContinues());
    StopProgress();
    EXPECT_EQ(nullptr, ProgressState.Thread);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(ProgressContinues());

    StartProgress(30000);
    ASSERT_TRUE(WaitFor([] { return ProgressState.Window != nullptr; }));
    window = ProgressState.Window;
    SendMessageA(GetDlgItem(window, ProgressBarId), PBM_GETRANGE, FALSE, LPARAM(&range));
    EXPECT_EQ(90000 & 0xFFFF, range.iHigh);
    EXPECT_EQ("1/30000 transferring", ProgressLine());
    // The close box is Cancel.
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(window); }));
    EXPECT_FALSE(ProgressContinues());
    ASSERT_TRUE(WaitFor([] { return ProgressState.Thread == nullptr; }));
    StopProgress();

    // A window that cannot be created: the thread ends at once and the batch would end.
    HMODULE own = OwnModule;
    HMODULE noTemplates = LoadLibraryExA((TestDataFolder() + "test_qrvkbxr.dll").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, noTemplates);
    OwnModule = noTemplates;
    StartProgress(2);
    ASSERT_TRUE(WaitFor([] { return ProgressState.Thread == nullptr; }));
    OwnModule = own;
    FreeLibrary(noTemplates);
    EXPECT_FALSE(ProgressContinues());
    StopProgress();
}
