// Whole batches end to end: the real qrvkbx.ds, opened by the project's manager for twacquire,
// fetches documents from the device simulator's sample storage; a window script chooses the
// documents and presses "&Download", twacquire takes every page by the mechanism of the flow and
// writes it as a BMP file, and each page is compared pixel for pixel with qrvpage's page bitmap
// of the same document page and settings.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "device/config_store.h"
#include "tests/windows/support/device_simulator.h"
#include "tests/windows/support/twain_tools.h"

#ifndef QRV_NATIVE_BUILD_DIR
#error "QRV_NATIVE_BUILD_DIR names the native build folder (a Unix path)"
#endif

namespace {

const char* const DriverName = "Chain Orvel";

std::string TestName() { return ::testing::UnitTest::GetInstance()->current_test_info()->name(); }

// A document page the batch should deliver, and the qrvpage options of its settings.
struct ExpectedPage {
    std::string documentId;
    int page;
};

// The sample's Inbox of Alice, newest first as the list shows it.
const char* const FivetoEight = "00001003";  // row 0, 4 pages
const char* const PageFour = "00001002";     // row 1, 1 page
const char* const TwoThree = "00001001";     // row 2, 2 pages

class DownloadChainFlow : public ::testing::Test {
protected:
    DownloadChainFlow()
        : regKey_("QrvChain" + TestName()),
          userTree_(HKEY_CURRENT_USER, "SOFTWARE\\Vantrel\\" + regKey_),
          machineTree_(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vantrel\\" + regKey_)
    {
    }

    // The real source, pointed at the simulator, with Alice's logon and these saved options.
    void Install(const DeviceSimulator& device, int pixelChoice, int resolutionChoice, int rangeChoice,
                 bool deleteAfter)
    {
        std::string folder = sources.AddRealSource("orvel", DriverName);
        WriteFileText(folder + "qrvcofig.ini",
                      std::string("[TWAIN]\r\nDriverName=") + DriverName + "\r\nRegKey=" + regKey_ + "\r\n");
        std::string common = "SOFTWARE\\Vantrel\\" + regKey_ + "\\Common";
        SetRegistryString(HKEY_CURRENT_USER, common, "Server Address", "127.0.0.1");
        SetRegistryString(HKEY_LOCAL_MACHINE, common, "HttpPort", std::to_string(device.port()));
        StorageSettingsRecord record{};
        record.resolutionChoice = resolutionChoice;
        record.pageRangeChoice = rangeChoice;
        record.pixelTypeChoice = pixelChoice;
        record.sortColumn = 1;
        record.deleteAfterDownload = deleteAfter;
        strcpy(record.selectedUser, "001:Alice Archer");
        memset(record.password, 0xFF, sizeof record.password);  // the empty password, inverted
        HKEY key;
        std::string settings = "SOFTWARE\\Vantrel\\" + regKey_ + "\\TWAIN\\Sylvane";
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, settings.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &key, nullptr));
        RegSetValueExA(key, "SB Mode", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&record), sizeof record);
        RegCloseKey(key);
    }

    ProgramRun Acquire(const std::string& script, const std::string& arguments, int applicationErrors = 0)
    {
        WriteFileText(work / "script.txt", "wait-dialog 1071 60000\nsleep 500\n" + script);
        std::string out = work.path().substr(0, work.path().size() - 1);
        ProgramRun run = RunAcquire(std::string("--source \"") + DriverName + "\" --timeout 150 " + arguments +
                                        " --script \"" + work / "script.txt" + "\" --out \"" + out + "\"",
                                    work.path(), 200000);
        EXPECT_TRUE(run.finished) << run.output;
        EXPECT_EQ(0, Count(run.output, "script: line")) << run.output;
        EXPECT_EQ(applicationErrors, Count(run.output, "Application error.")) << run.output;
        return run;
    }

    // Starts a command of the Unix shell, which cannot be waited for from here: callers watch
    // for its last act.
    static void StartUnixCommand(const std::string& shellCommand)
    {
        std::string command = "Z:\\bin\\sh -c \"" + shellCommand + "\"";
        std::vector<char> line(command.begin(), command.end());
        line.push_back('\0');
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        EXPECT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &process));
        if (process.hProcess)
            CloseHandle(process.hProcess);
        if (process.hThread)
            CloseHandle(process.hThread);
    }

    // Runs a command of the Unix shell to its end, told by a marker file it writes last.
    void RunUnixCommand(const std::string& shellCommand)
    {
        std::string marker = work / "unix-command-done";
        StartUnixCommand("(" + shellCommand + "); touch '" + UnixPath(marker) + "'");
        for (int i = 0; i < 600 && GetFileAttributesA(marker.c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
            Sleep(50);
        EXPECT_TRUE(DeleteFileA(marker.c_str())) << shellCommand;
    }

    // qrvpage's page bitmap of the page, as a viewer shows it. The page bitmap file keeps its
    // top row first, so a standard reader gets it upside down.
    // A transferred page against qrvpage's: the same size, depth and pixels.
    static void ExpectSamePixels(const Bitmap& received, const Bitmap& reference)
    {
        ASSERT_TRUE(received.ok);
        ASSERT_TRUE(reference.ok);
        ASSERT_EQ(reference.width, received.width);
        ASSERT_EQ(reference.height, received.height);
        EXPECT_EQ(reference.bitsPerPixel, received.bitsPerPixel);
        int differ = 0;
        for (size_t p = 0; p < received.pixels.size(); ++p)
            differ += received.pixels[p] != reference.pixels[p];
        EXPECT_EQ(0, differ);
    }

    Bitmap ReferencePage(const ExpectedPage& expected, const std::string& options)
    {
        std::string name = "ref_" + expected.documentId + "_" + std::to_string(expected.page) + ".bmp";
        std::string unixOut = UnixPath(work / name);
        std::string document = SampleStorageUnix() + "/documents/" + expected.documentId + ".tif";
        StartUnixCommand("'" QRV_NATIVE_BUILD_DIR "/tools/page_tool/qrvpage' --convert " + options + " --bmp '" +
                         unixOut + ".part' '" + document + "' " + std::to_string(expected.page) +
                         " >/dev/null && mv '" + unixOut + ".part' '" + unixOut + "'");
        // A Unix child cannot be waited for from here; the renamed file is its last act.
        for (int i = 0; i < 600 && GetFileAttributesA((work / name).c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
            Sleep(50);
        Bitmap stored = ReadBmp(work / name);
        Bitmap shown = stored;
        for (int y = 0; y < stored.height; ++y)
            std::copy_n(stored.pixels.begin() + size_t(stored.height - 1 - y) * stored.width, stored.width,
                        shown.pixels.begin() + size_t(y) * stored.width);
        return shown;
    }

    // Exactly the expected pages arrived, each the same pixels as qrvpage's page.
    void ExpectPages(const ProgramRun& run, const std::vector<ExpectedPage>& expected, const std::string& options)
    {
        EXPECT_EQ(int(expected.size()), Count(run.output, " transfer -> ")) << run.output;
        for (size_t i = 0; i < expected.size(); ++i) {
            char name[32];
            snprintf(name, sizeof name, "page%03d.bmp", int(i + 1));
            SCOPED_TRACE(std::string(name) + " = document " + expected[i].documentId + " page " +
                         std::to_string(expected[i].page));
            Bitmap received = ReadBmp(work / name);
            Bitmap reference = ReferencePage(expected[i], options);
            ASSERT_NO_FATAL_FAILURE(ExpectSamePixels(received, reference));
        }
        char extra[32];
        snprintf(extra, sizeof extra, "page%03d.bmp", int(expected.size() + 1));
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((work / extra).c_str()));
    }

    // The TIFF pages a file transfer wrote, read natively by libtiff (tifftopnm) against
    // qrvpage's pages: the same pixels, and the resolution of qrvpage's page.
    void ExpectTiffPages(const ProgramRun& run, const std::vector<ExpectedPage>& expected, const std::string& options,
                         const std::string& compression)
    {
        EXPECT_EQ(int(expected.size()), Count(run.output, " transfer -> ")) << run.output;
        for (size_t i = 0; i < expected.size(); ++i) {
            char name[32];
            snprintf(name, sizeof name, "page%03d", int(i + 1));
            SCOPED_TRACE(std::string(name) + ".tif = document " + expected[i].documentId + " page " +
                         std::to_string(expected[i].page));
            std::string tiff = UnixPath(work / (std::string(name) + ".tif"));
            RunUnixCommand("/usr/bin/tifftopnm '" + tiff + "' > '" + tiff + ".pnm' 2>/dev/null; /usr/bin/tiffinfo -D '" +
                           tiff + "' > '" + tiff + ".info' 2>&1");
            Bitmap received = ReadPnm(work / (std::string(name) + ".tif.pnm"));
            Bitmap reference = ReferencePage(expected[i], options);
            ASSERT_NO_FATAL_FAILURE(ExpectSamePixels(received, reference));
            // qrvpage's pixels per metre, as DAT_IMAGEINFO turns them into dots per inch.
            std::string referenceFile =
                ReadFileText(work / ("ref_" + expected[i].documentId + "_" + std::to_string(expected[i].page) + ".bmp"));
            ASSERT_GE(referenceFile.size(), 46u);
            auto dpi = [&](size_t at) {
                uint32_t perMetre;
                memcpy(&perMetre, referenceFile.data() + at, 4);
                return std::to_string((perMetre * 254 + 9999) / 10000);
            };
            std::string info = ReadFileText(work / (std::string(name) + ".tif.info"));
            EXPECT_NE(std::string::npos, info.find("Resolution: " + dpi(38) + ", " + dpi(42) + " pixels/inch")) << info;
            EXPECT_NE(std::string::npos, info.find("Compression Scheme: " + compression)) << info;
            EXPECT_EQ(std::string::npos, info.find("Error")) << info;
            EXPECT_EQ(std::string::npos, info.find("Warning")) << info;
        }
        char extra[32];
        snprintf(extra, sizeof extra, "page%03d.tif", int(expected.size() + 1));
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((work / extra).c_str()));
    }

    // A PBM (1 = black) or PGM page as the colours a viewer shows.
    static Bitmap ReadPnm(const std::string& path)
    {
        Bitmap bitmap;
        std::string data = ReadFileText(path);
        int width = 0, height = 0, maxValue = 1, header = 0;
        bool gray = data.rfind("P5", 0) == 0;
        if (gray ? sscanf(data.c_str(), "P5 %d %d %d%n", &width, &height, &maxValue, &header) != 3
                 : sscanf(data.c_str(), "P4 %d %d%n", &width, &height, &header) != 2)
            return bitmap;
        size_t rowBytes = gray ? size_t(width) : (size_t(width) + 7) / 8;
        const char* rows = data.data() + header + 1;
        if (width <= 0 || height <= 0 || (gray && maxValue != 255) || size_t(header) + 1 + rowBytes * height > data.size())
            return bitmap;
        bitmap.width = width;
        bitmap.height = height;
        bitmap.bitsPerPixel = gray ? 8 : 1;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                uint8_t level = gray ? uint8_t(rows[y * rowBytes + x])
                                     : (uint8_t(rows[y * rowBytes + x / 8]) >> (7 - x % 8) & 1) ? 0 : 255;
                bitmap.pixels.push_back(uint32_t(level) * 0x010101u);
            }
        bitmap.ok = true;
        return bitmap;
    }

    SourceFolder sources;
    TempFolder work{"qchn"};

private:
    std::string regKey_;
    ScopedRegistryTree userTree_;
    ScopedRegistryTree machineTree_;
};

// Rows 1 and 2 chosen with nothing on show, "All": the one page of row 1, then both pages of
// row 2, and the source asks to be closed once nothing is pending.
const char* const ChooseRowsOneAndTwo = "click-item 1001 1\nsleep 800\nclick-item 1001 2 ctrl\nsleep 500\n";

struct MechanismCase {
    const char* name;
    const char* arguments;  // twacquire's
    int pixelChoice;
    int resolutionChoice;
    const char* reference;  // qrvpage's options for the same settings
};

class AllPagesByMechanism : public DownloadChainFlow, public ::testing::WithParamInterface<MechanismCase> {};

}  // namespace

TEST_P(AllPagesByMechanism, TwoDocumentsEveryPageAsQrvpageMakesIt)
{
    const MechanismCase& c = GetParam();
    DeviceSimulator device;
    ASSERT_TRUE(device.started());
    Install(device, c.pixelChoice, c.resolutionChoice, 1020, false);
    ProgramRun run = Acquire(std::string(ChooseRowsOneAndTwo) + "click 1007\nwait-gone 120000\n", c.arguments);
    EXPECT_EQ(0u, run.exitCode) << run.output;
    ExpectPages(run, {{PageFour, 1}, {TwoThree, 1}, {TwoThree, 2}}, c.reference);
    EXPECT_TRUE(HasLine(run.output, "no page is pending")) << run.output;
    EXPECT_TRUE(HasLine(run.output, "the source asks to be closed (MSG_CLOSEDSREQ)")) << run.output;
    // Each document was fetched once, and nothing was deleted.
    EXPECT_EQ(0, Count(device.Requests(), "<COMMAND>DELETE</COMMAND>")) << device.Requests();
}

INSTANTIATE_TEST_SUITE_P(
    Mechanisms, AllPagesByMechanism,
    ::testing::Values(MechanismCase{"NativeBlackWhite", "--mech native", 1013, 1024, "--pixel-type bw"},
                      MechanismCase{"FileGray200", "--mech file", 1014, 1025, "--pixel-type gray --resolution 200"},
                      MechanismCase{"MemoryGray300", "--mech memory", 1014, 1026, "--pixel-type gray --resolution 300"},
                      MechanismCase{"MemoryBlackWhite", "--mech memory", 1013, 1025,
                                    "--pixel-type bw --resolution 200"}),
    [](const ::testing::TestParamInfo<MechanismCase>& info) { return std::string(info.param.name); });

// File transfers in each format the source writes, for both pixel types: BMP pages as a viewer
// shows them, TIFF pages (T.6 for black and white, PackBits for gray) as libtiff reads them, each
// the same pixels as qrvpage's page, and TIFF pages with its resolution.
struct FileFormatCase {
    const char* name;
    const char* format;  // twacquire's --file-format
    int pixelChoice;
    int resolutionChoice;
    const char* reference;
    const char* compression;  // tiffinfo's name of it
};

class FilePagesByFormat : public DownloadChainFlow, public ::testing::WithParamInterface<FileFormatCase> {};

TEST_P(FilePagesByFormat, TwoDocumentsEveryPageAsQrvpageMakesIt)
{
    const FileFormatCase& c = GetParam();
    DeviceSimulator device;
    ASSERT_TRUE(device.started());
    Install(device, c.pixelChoice, c.resolutionChoice, 1020, false);
    ProgramRun run = Acquire(std::string(ChooseRowsOneAndTwo) + "click 1007\nwait-gone 120000\n",
                             std::string("--mech file --file-format ") + c.format);
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_TRUE(HasLine(run.output, "set transfer mechanism file")) << run.output;
    std::vector<ExpectedPage> pages{{PageFour, 1}, {TwoThree, 1}, {TwoThree, 2}};
    if (std::string(c.format) == "tiff")
        ExpectTiffPages(run, pages, c.reference, c.compression);
    else
        ExpectPages(run, pages, c.reference);
    EXPECT_TRUE(HasLine(run.output, "the source asks to be closed (MSG_CLOSEDSREQ)")) << run.output;
}

INSTANTIATE_TEST_SUITE_P(
    Formats, FilePagesByFormat,
    ::testing::Values(FileFormatCase{"BmpBlackWhite", "bmp", 1013, 1024, "--pixel-type bw", ""},
                      FileFormatCase{"TiffBlackWhite", "tiff", 1013, 1024, "--pixel-type bw", "CCITT Group 4"},
                      FileFormatCase{"TiffGray300", "tiff", 1014, 1026, "--pixel-type gray --resolution 300",
                                     "PackBits"}),
    [](const ::testing::TestParamInfo<FileFormatCase>& info) { return std::string(info.param.name); });

// "Pages" 3 to 2 over rows 0 and 2 with "De&lete after download": pages 2 and 3 of the four-page
// document, then page 2 of the two-page one (the range kept inside its pages); each document is
// deleted on the device after its last page of the range, the first before the second is
// fetched.
TEST_F(DownloadChainFlow, PagesRangeAcrossDocumentsDeletedAfterDownload)
{
    DeviceSimulator device;
    ASSERT_TRUE(device.started());
    Install(device, 1014, 1025, 1021, true);
    ProgramRun run = Acquire("click-item 1001 0\nsleep 800\nclick-item 1001 2 ctrl\nsleep 500\n"
                             "settext 1022 3\nsettext 1023 2\n"
                             "click 1007\nwait-gone 120000\n",
                             "--mech file");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    ExpectPages(run, {{FivetoEight, 2}, {FivetoEight, 3}, {TwoThree, 2}}, "--pixel-type gray --resolution 200");
    std::string requests = device.Requests();
    size_t firstDeleted = requests.find("<DOCUMENTID>" + std::string(FivetoEight) + "</DOCUMENTID>");
    size_t secondFetched = requests.find(TwoThree);
    size_t secondDeleted = requests.find("<DOCUMENTID>" + std::string(TwoThree) + "</DOCUMENTID>");
    EXPECT_EQ(2, Count(requests, "<COMMAND>DELETE</COMMAND>")) << requests;
    ASSERT_NE(std::string::npos, firstDeleted) << requests;
    ASSERT_NE(std::string::npos, secondDeleted) << requests;
    EXPECT_LT(firstDeleted, secondFetched) << requests;
    EXPECT_LT(secondFetched, secondDeleted) << requests;
}

// "Current page" with page 2 of the four-page document on show and every other document of the
// Inbox chosen after it, "De&lete after download" on: page 2 of each document that has one, in
// list order; the one-page documents send nothing, show nothing and are not deleted; the progress
// window counts the two pages the batch really sends.
TEST_F(DownloadChainFlow, CurrentPageAcrossDocumentsOfDifferentLengths)
{
    DeviceSimulator device({"--file-delay-ms", "1500"});
    ASSERT_TRUE(device.started());
    Install(device, 1013, 1024, 1019, true);
    ProgramRun run = Acquire("click-item 1001 0\nsleep 2500\nsettext 1012 2\nsleep 2500\n"
                             "select 1001 1\nselect 1001 2\nselect 1001 3\nsleep 300\n"
                             "click 1007\n"
                             "wait-dialog 1048 60000\nstate 1051\n"
                             "wait-gone 120000\n",
                             "--mech native");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    ExpectPages(run, {{FivetoEight, 2}, {TwoThree, 2}}, "--pixel-type bw");
    EXPECT_EQ(0, Count(run.output, "script: box")) << run.output;
    // The progress line counts the pages of the batch, whichever page it is at.
    size_t progress = run.output.find("script: control 1051 enabled visible \"");
    ASSERT_NE(std::string::npos, progress) << run.output;
    std::string line = run.output.substr(progress, run.output.find_first_of("\r\n", progress) - progress);
    EXPECT_TRUE(line == "script: control 1051 enabled visible \"1/2 transferring\"" ||
                line == "script: control 1051 enabled visible \"2/2 transferring\"")
        << line;
    EXPECT_TRUE(LinesInOrder(run.output, {"pending after the page: -1", "pending after the page: 0",
                                          "the source asks to be closed (MSG_CLOSEDSREQ)"}))
        << run.output;
    std::string requests = device.Requests();
    EXPECT_EQ(2, Count(requests, "<COMMAND>DELETE</COMMAND>")) << requests;
    EXPECT_NE(std::string::npos, requests.find("<DOCUMENTID>" + std::string(FivetoEight) + "</DOCUMENTID>"));
    EXPECT_NE(std::string::npos, requests.find("<DOCUMENTID>" + std::string(TwoThree) + "</DOCUMENTID>"));
    // The documents without a page 2 were never fetched.
    EXPECT_EQ(std::string::npos, requests.find("GET /strage/" + std::string(PageFour) + ".tif")) << requests;
    EXPECT_EQ(std::string::npos, requests.find("GET /strage/00001000.tif")) << requests;
}

// The application takes at most CAP_XFERCOUNT pages. With 1 over the four-page and the two-page
// document: one page, nothing pending after it, nothing deleted. With 3 over the two-page and
// the four-page document (oldest first): both pages of the first, which is deleted, and the first
// page of the second, which is not (not every chosen page of it went out); the pending counts tell
// the pages still to come.
TEST_F(DownloadChainFlow, PageLimitEndsTheBatchAndKeepsUnfinishedDocuments)
{
    DeviceSimulator device;
    ASSERT_TRUE(device.started());
    Install(device, 1013, 1024, 1020, true);
    ProgramRun run = Acquire("click-item 1001 0\nsleep 800\nclick-item 1001 2 ctrl\nsleep 500\n"
                             "click 1007\nwait-gone 120000\n",
                             "--mech memory --cap 0x0001=int16:1");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    ExpectPages(run, {{FivetoEight, 1}}, "--pixel-type bw");
    EXPECT_EQ(1, Count(run.output, "pending after the page: "));
    EXPECT_TRUE(HasLine(run.output, "pending after the page: 0")) << run.output;
    EXPECT_TRUE(HasLine(run.output, "the source asks to be closed (MSG_CLOSEDSREQ)")) << run.output;
    EXPECT_EQ(0, Count(device.Requests(), "<COMMAND>DELETE</COMMAND>")) << device.Requests();

    DeleteFileA((work / "page001.bmp").c_str());
    // The time column sorted the other way: the oldest first, so the two-page document (row 1)
    // comes before the four-page one (row 3).
    run = Acquire("click-column 1001 1\nsleep 500\nclick-item 1001 1\nsleep 800\nclick-item 1001 3 ctrl\n"
                  "sleep 500\nclick 1007\nwait-gone 120000\n",
                  "--mech file --cap 0x0001=int16:3");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    ExpectPages(run, {{TwoThree, 1}, {TwoThree, 2}, {FivetoEight, 1}}, "--pixel-type bw");
    EXPECT_TRUE(LinesInOrder(run.output, {"pending after the page: 2", "pending after the page: 1",
                                          "pending after the page: 0"}))
        << run.output;
    std::string requests = device.Requests();
    EXPECT_EQ(1, Count(requests, "<COMMAND>DELETE</COMMAND>")) << requests;
    EXPECT_NE(std::string::npos, requests.find("<DOCUMENTID>" + std::string(TwoThree) + "</DOCUMENTID>")) << requests;
}

// The device stops taking deletions in the middle of the batch: each failed deletion shows its
// message once, and the batch goes on with every chosen document.
TEST_F(DownloadChainFlow, AFailedDeletionDoesNotDropTheRestOfTheBatch)
{
    DeviceSimulator device({"--drop-deletes"});
    ASSERT_TRUE(device.started());
    Install(device, 1013, 1024, 1020, true);
    ProgramRun run = Acquire(std::string(ChooseRowsOneAndTwo) + "click 1007\n"
                             "answer-box 1 120000\nanswer-box 1 120000\n"
                             "wait-gone 120000\n",
                             "--mech native");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    ExpectPages(run, {{PageFour, 1}, {TwoThree, 1}, {TwoThree, 2}}, "--pixel-type bw");
    EXPECT_EQ(2, Count(run.output, "script: box [Chain Orvel] Unable to connect the scanner. (owner: none) -> 1"))
        << run.output;
    EXPECT_EQ(2, Count(run.output, "script: box")) << run.output;
    EXPECT_TRUE(HasLine(run.output, "the source asks to be closed (MSG_CLOSEDSREQ)")) << run.output;
}

// Cancel in the progress window during "All" of the eight-page document: the page under way
// completes, then nothing is pending and the source asks to be closed; every page that arrived
// is whole and right, in order from page 1. The application takes its time over each page, so
// that the cancel lands in the middle of the batch however busy the machine is.
TEST_F(DownloadChainFlow, CancelInTheProgressWindow)
{
    DeviceSimulator device({"--file-delay-ms", "0"});
    ASSERT_TRUE(device.started());
    Install(device, 1013, 1024, 1020, false);
    ProgramRun run = Acquire("select-folder 1000 Scans\nsleep 800\nclick-item 1001 1\nsleep 800\n"
                             "click 1007\n"
                             "wait-dialog 1048 60000\n"
                             "click 2\n"
                             "wait-gone 120000\n",
                             "--mech memory --page-delay-ms 400");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    int pages = Count(run.output, " transfer -> ");
    EXPECT_GE(pages, 1) << run.output;
    EXPECT_LT(pages, 8) << run.output;
    std::vector<ExpectedPage> expected;
    for (int page = 1; page <= pages; ++page)
        expected.push_back({"00001005", page});
    ExpectPages(run, expected, "--pixel-type bw");
    EXPECT_TRUE(HasLine(run.output, "no page is pending")) << run.output;
    EXPECT_TRUE(HasLine(run.output, "the source asks to be closed (MSG_CLOSEDSREQ)")) << run.output;
}

// The first document cannot be fetched (the device sends half the file): its message, no page,
// nothing pending, the close request.
TEST_F(DownloadChainFlow, FirstDocumentCannotBeFetched)
{
    DeviceSimulator device({"--cut-files"});
    ASSERT_TRUE(device.started());
    Install(device, 1013, 1024, 1020, false);
    ProgramRun run = Acquire("select 1001 1\nselect 1001 2\nsleep 300\n"
                             "click 1007\n"
                             "answer-box 1 60000\n"
                             "wait-gone 60000\n",
                             "--mech native");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_TRUE(HasLine(run.output, "script: box [Chain Orvel] Unable to download the file. (owner: none) -> 1"))
        << run.output;
    EXPECT_FALSE(HasLine(run.output, "the source has pages ready (MSG_XFERREADY)")) << run.output;
    EXPECT_TRUE(HasLine(run.output, "the source asks to be closed (MSG_CLOSEDSREQ)")) << run.output;
    ExpectPages(run, {}, "");
}

// The device goes away after the first document was fetched: its page arrives, the second
// document's fetch fails with its message, and the batch ends there with the close request.
TEST_F(DownloadChainFlow, DeviceGoneInTheMiddleOfTheBatch)
{
    // Three requests to log on and list, one for the first document, then no more.
    DeviceSimulator device({"--refuse-after", "4"});
    ASSERT_TRUE(device.started());
    Install(device, 1013, 1024, 1020, false);
    ProgramRun run = Acquire("select 1001 1\nselect 1001 2\nsleep 300\n"
                             "click 1007\n"
                             "answer-box 1 60000\n"
                             "wait-gone 60000\n",
                             "--mech memory");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    ExpectPages(run, {{PageFour, 1}}, "--pixel-type bw");
    EXPECT_EQ(1, Count(run.output, "script: box")) << run.output;
    EXPECT_TRUE(HasLine(run.output, "no page is pending")) << run.output;
    EXPECT_TRUE(HasLine(run.output, "the source asks to be closed (MSG_CLOSEDSREQ)")) << run.output;
}

// A long day in one application process, shortened: the manager unloads the source at every
// close and loads it at every open, and each scan runs a batch with its progress window. From the
// tenth scan on no handle, thread or work directory is left behind (a handle a scan was, before
// the progress window's start-up event was closed). Memory over so few scans is printed, not
// judged: the working set moves by hundreds of kilobytes either way under Wine; the load and free
// tests of the source and of the protocol library measure what each load keeps.
TEST_F(DownloadChainFlow, ScanAfterScanLeavesNothingBehind)
{
    DeviceSimulator device;
    ASSERT_TRUE(device.started());
    Install(device, 1013, 1024, 1020, false);
    // The work directories go to a temporary folder of this test's own.
    std::string temporary = work / "temp";
    CreateDirectoryA(temporary.c_str(), nullptr);
    SetEnvironmentVariableA("TMP", temporary.c_str());
    SetEnvironmentVariableA("TEMP", temporary.c_str());
    ProgramRun run = Acquire("click-item 1001 2\nsleep 800\nclick 1007\nwait-gone 120000\n",
                             "--mech native --cycles 12 --report-resources");
    SetEnvironmentVariableA("TMP", nullptr);
    SetEnvironmentVariableA("TEMP", nullptr);
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_EQ(12, Count(run.output, ": 2 page(s)")) << run.output;
    struct Report {
        unsigned long long workingSet = 0;
        unsigned long handles = 0;
        int threads = 0, folders = -1;
    } tenth, last;
    for (const std::string& line : Lines(run.output)) {
        int cycle = 0;
        Report report;
        if (sscanf(line.c_str(), "resources: cycle=%d working_set=%llu handles=%lu threads=%d temp_dirs=%d", &cycle,
                   &report.workingSet, &report.handles, &report.threads, &report.folders) == 5)
            (cycle == 10 ? tenth : last) = report;
    }
    ASSERT_GT(tenth.workingSet, 0u) << run.output;
    ASSERT_GT(last.workingSet, 0u) << run.output;
    printf("scans 10 to 12: working set %+lld kB, handles %+ld, threads %+d, work directories %+d\n",
           (static_cast<long long>(last.workingSet) - static_cast<long long>(tenth.workingSet)) / 1024,
           long(last.handles) - long(tenth.handles), last.threads - tenth.threads, last.folders - tenth.folders);
    EXPECT_LE(last.handles, tenth.handles + 1);
    EXPECT_EQ(tenth.threads, last.threads);
    EXPECT_EQ(0, last.folders);
}

// The disk fills up while the second page is written to the application's file (the file is
// the device that is always full): the first page is whole, the second transfer is refused with
// its box over the application's window, and the application gives up the batch (MSG_RESET is
// taken) and closes the source. (That a partial file is deleted is the page store's full-disk
// test: Wine deletes no device, so the link stays and is removed here.)
TEST_F(DownloadChainFlow, DiskFullWhileWritingATransferFile)
{
    DeviceSimulator device;
    ASSERT_TRUE(device.started());
    Install(device, 1013, 1024, 1020, false);
    std::string full = UnixPath(work / "page002.bmp");
    RunUnixCommand("ln -s /dev/full '" + full + "'");
    ProgramRun run = Acquire(std::string(ChooseRowsOneAndTwo) + "click 1007\n"
                             "answer-box 1 120000\n"
                             "wait-gone 120000\n",
                             "--mech file", 1);
    ExpectPages(run, {{PageFour, 1}}, "--pixel-type bw");
    EXPECT_TRUE(LinesInOrder(run.output, {"script: box [Chain Orvel] Application error. (owner: twacquire) -> 1",
                                          "refused: DAT_IMAGEFILEXFER: TWRC_FAILURE, condition code 9 (TWCC_BADPROTOCOL)",
                                          "source disabled", "source closed"}))
        << run.output;
    EXPECT_FALSE(HasLine(run.output, "refused: MSG_RESET")) << run.output;
    RunUnixCommand("rm -f '" + full + "'");
    EXPECT_EQ(1, Count(run.output, "script: box")) << run.output;
    EXPECT_EQ(1, Count(run.output, " transfer -> ")) << run.output;
}

// The download starts without the button too: a double click on a document's row downloads
// that document, and Enter in the list (the default button, through the application's event
// forwarding) downloads the chosen ones.
TEST_F(DownloadChainFlow, DoubleClickOrEnterStartsTheDownload)
{
    DeviceSimulator device;
    ASSERT_TRUE(device.started());
    Install(device, 1013, 1024, 1020, false);
    // The first click shows the document, fetching it; clicks made while a fetch waits are
    // dropped, as a person's would be, so the double click follows once it is on show.
    ProgramRun run = Acquire("click-item 1001 1\nsleep 800\nclick-item 1001 1 double\nwait-gone 120000\n",
                             "--mech native");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    ExpectPages(run, {{PageFour, 1}}, "--pixel-type bw");
    EXPECT_TRUE(HasLine(run.output, "the source asks to be closed (MSG_CLOSEDSREQ)")) << run.output;

    DeleteFileA((work / "page001.bmp").c_str());
    run = Acquire(std::string(ChooseRowsOneAndTwo) + "post 1001 0x100 0x0D 0\nwait-gone 120000\n", "--mech native");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    ExpectPages(run, {{PageFour, 1}, {TwoThree, 1}, {TwoThree, 2}}, "--pixel-type bw");
    EXPECT_TRUE(HasLine(run.output, "the source asks to be closed (MSG_CLOSEDSREQ)")) << run.output;
}
