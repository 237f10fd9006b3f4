// qrvxpmns.dll as shipped, driven through its ordinals against the device simulator on
// loopback: messages and their walk, the wait window and its cancel, the library's own
// time-outs, hostile answers, refused paths, and files that arrive whole or not at all.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include <string>
#include <vector>

#include "device/protocol_link.h"
#include "device/storage_commands.h"
#include "tests/windows/support/device_simulator.h"
#include "tests/windows/support/process_figures.h"
#include "tests/windows/support/test_files.h"
#include "tests/windows/support/wait_window_clicker.h"

namespace {

std::string LibraryPath() { return BinFolder() + "qrvxpmns.dll"; }

std::string Ansi(const wchar_t* text)
{
    char buffer[256];
    int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, buffer, sizeof buffer, "?", nullptr);
    return length > 0 ? std::string(buffer) : std::string();
}

class ProtocolLibraryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(1, LoadProtocolLibraryFrom(LibraryPath().c_str(), lib)); }
    void TearDown() override { FreeProtocolLibrary(lib); }

    ProtocolHandle NewMessage()
    {
        ProtocolHandle message = lib.MsgCreate(TagTable);
        EXPECT_NE(0u, message);
        EXPECT_EQ(1, lib.MsgInit(message));
        EXPECT_EQ(1, lib.MsgSetMode(message, MessageModeXmlRequest));
        return message;
    }

    ProtocolHandle UserListRequest()
    {
        ProtocolHandle message = NewMessage();
        EXPECT_EQ(1, lib.MsgBeginElement(message, TagServer));
        EXPECT_EQ(1, lib.MsgAddText(message, TagCommand, "GETUSERID"));
        EXPECT_EQ(1, lib.MsgEndElement(message));
        return message;
    }

    // Sends a user list request to the simulator; returns what ConnSendMessage returned.
    int SendUserList(const DeviceSimulator& device, ProtocolHandle& message, DWORD& error)
    {
        message = UserListRequest();
        ProtocolHandle connection = lib.ConnOpen("127.0.0.1");
        int sent = lib.ConnSendMessage(connection, device.port(), "/upcmd.cgi", message);
        error = lib.ConnGetLastError(connection);
        lib.ConnClose(connection);
        return sent;
    }

    std::vector<std::string> WalkTexts(ProtocolHandle message)
    {
        std::vector<std::string> texts;
        for (ProtocolHandle e = lib.MsgFirstElement(message, AnyTag); e; e = lib.MsgNextElement(message, AnyTag))
            texts.push_back(std::string(TagTable[lib.ElemGetTag(e)]) + "=" + lib.ElemGetText(e));
        return texts;
    }

    ProtocolLibrary lib;
};

}  // namespace

TEST_F(ProtocolLibraryTest, ExportsOrdinalsOnly)
{
    EXPECT_EQ(nullptr, GetProcAddress(lib.module, "MsgCreate"));
    EXPECT_EQ(nullptr, GetProcAddress(lib.module, "ConnSendMessage"));
}

TEST_F(ProtocolLibraryTest, RequestGoesOutAsXmlAndTheAnswerIsWalkedInDocumentOrder)
{
    DeviceSimulator device;
    ASSERT_TRUE(device.started());
    ProtocolHandle message;
    DWORD error;
    ASSERT_EQ(1, SendUserList(device, message, error));
    EXPECT_EQ(0u, error);
    EXPECT_EQ("== POST /upcmd.cgi\n<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<SERVER><COMMAND>GETUSERID</COMMAND></SERVER>\n",
              device.Requests());

    std::vector<std::string> expected = {
        "SERVER=", "CODE=600", "USER=", "USERHANDLE=1", "USERID=001", "USERNAME=Alice Archer",
        "USER=",   "USERHANDLE=2", "USERID=002", "USERNAME=Bob Baker", "USER=", "USERHANDLE=3",
        "USERID=003", "USERNAME=Carol Chen"};
    EXPECT_EQ(expected, WalkTexts(message));

    // A tag filter visits only that tag; numbers and identifiers read as they were written.
    ProtocolHandle name = lib.MsgFirstElement(message, TagUserName);
    EXPECT_STREQ("Alice Archer", lib.ElemGetText(name));
    name = lib.MsgNextElement(message, TagUserName);
    EXPECT_STREQ("Bob Baker", lib.ElemGetText(name));
    ProtocolHandle handle = lib.MsgNextElement(message, TagUserHandle);
    int32_t number = 0;
    EXPECT_EQ(1, lib.ElemGetInt(handle, &number));
    EXPECT_EQ(3, number);
    uint32_t id = 0;
    EXPECT_EQ(1, lib.ElemGetId(lib.MsgNextElement(message, TagUserId), &id));
    EXPECT_EQ(3u, id);
    EXPECT_EQ(0, lib.ElemGetInt(lib.MsgNextElement(message, TagUserName), &number));
    EXPECT_EQ(0, number);
    EXPECT_EQ(0u, lib.MsgNextElement(message, AnyTag));
    EXPECT_EQ(0u, lib.MsgNextElement(message, AnyTag));
    lib.MsgFree(message);
}

TEST_F(ProtocolLibraryTest, HandlesAreCheckedNotTrusted)
{
    ProtocolHandle message = NewMessage();
    ASSERT_EQ(1, lib.MsgAddText(message, TagCommand, "x"));
    lib.MsgFree(message);
    EXPECT_EQ(0, lib.MsgAddText(message, TagCommand, "x"));
    EXPECT_EQ(0, lib.MsgInit(message));
    EXPECT_EQ(0u, lib.MsgFirstElement(message, AnyTag));
    lib.MsgFree(message);  // twice: nothing happens

    EXPECT_EQ(-1, lib.ElemGetTag(0));
    EXPECT_EQ(-1, lib.ElemGetTag(0x12345678));
    EXPECT_STREQ("", lib.ElemGetText(0xFFFFFFFF));
    uint32_t id = 7;
    EXPECT_EQ(0, lib.ElemGetId(0x01000001, &id));
    EXPECT_EQ(0u, id);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), lib.ConnGetLastError(0));
    EXPECT_EQ(0, lib.ConnSendMessage(0, 80, "/upcmd.cgi", 0));

    const char* badNames[] = {"JOB", "NOT A NAME", nullptr};
    EXPECT_EQ(0u, lib.MsgCreate(badNames));
    EXPECT_EQ(0u, lib.MsgCreate(nullptr));
    message = NewMessage();
    EXPECT_EQ(0, lib.MsgSetMode(message, 2));
    EXPECT_EQ(0, lib.MsgBeginElement(message, 49));
    EXPECT_EQ(0, lib.MsgEndElement(message));
    EXPECT_EQ(0, lib.MsgAddId(message, TagFolderId, 1, 9));
    lib.MsgFree(message);

    // Handles run out and come back, never as the handle that was freed.
    std::vector<ProtocolHandle> many;
    for (ProtocolHandle m; many.size() < 1000 && (m = lib.MsgCreate(TagTable)) != 0;)
        many.push_back(m);
    EXPECT_EQ(64u, many.size());
    ProtocolHandle freed = many.back();
    lib.MsgFree(freed);
    many.back() = lib.MsgCreate(TagTable);
    ASSERT_NE(0u, many.back());
    EXPECT_NE(freed, many.back());
    EXPECT_EQ(0, lib.MsgInit(freed));
    EXPECT_EQ(1, lib.MsgInit(many.back()));
    for (ProtocolHandle m : many)
        lib.MsgFree(m);
}

TEST_F(ProtocolLibraryTest, TextsCrossTheInterfaceInTheAnsiCodePage)
{
    CustomStorage storage(
        "<storage><user id=\"\xC3\xBC\" handle=\"5\" name=\"M\xC3\xBCller \xE6\x97\xA5\" password=\"\"/></storage>");
    DeviceSimulator device({}, storage.unixPath());
    ASSERT_TRUE(device.started());
    ProtocolHandle message;
    DWORD error;
    ASSERT_EQ(1, SendUserList(device, message, error));
    EXPECT_EQ(Ansi(L"M\u00FCller \u65E5"), lib.ElemGetText(lib.MsgFirstElement(message, TagUserName)));
    lib.MsgFree(message);

    std::string ansi = Ansi(L"\u00FC");
    if (ansi == "?")
        GTEST_SKIP() << "the ANSI code page has no u-umlaut";
    message = NewMessage();
    ASSERT_EQ(1, lib.MsgBeginElement(message, TagServer));
    ASSERT_EQ(1, lib.MsgAddText(message, TagCommand, ("GETUSERID" + ansi).c_str()));
    ProtocolHandle connection = lib.ConnOpen("127.0.0.1");
    EXPECT_EQ(1, lib.ConnSendMessage(connection, device.port(), "/upcmd.cgi", message));
    EXPECT_NE(std::string::npos, device.Requests().find("<COMMAND>GETUSERID\xC3\xBC</COMMAND>"));
    lib.ConnClose(connection);
    lib.MsgFree(message);
}

TEST_F(ProtocolLibraryTest, RefusedConnectionFailsAtOnce)
{
    DeviceSimulator device;
    ASSERT_TRUE(device.started());
    device.Stop();
    DWORD start = GetTickCount();
    ProtocolHandle message;
    DWORD error;
    EXPECT_EQ(0, SendUserList(device, message, error));
    EXPECT_EQ(12029u, error);
    EXPECT_LT(GetTickCount() - start, 3000u);
    EXPECT_EQ(0u, lib.MsgFirstElement(message, AnyTag));
    lib.MsgFree(message);
}

TEST_F(ProtocolLibraryTest, TimeOutsAreEnforcedByTheLibraryItself)
{
    DeviceSimulator device({"--delay-ms", "4000"});
    ASSERT_TRUE(device.started());
    struct Case {
        DWORD connect, send, receive, total;
    } cases[] = {{10000, 0, 400, 0}, {10000, 0, 0, 600}};
    for (const Case& limits : cases) {
        ProtocolHandle message = UserListRequest();
        ProtocolHandle connection = lib.ConnOpen("127.0.0.1");
        ASSERT_EQ(1, lib.ConnSetTimeouts(connection, limits.connect, limits.send, limits.receive, limits.total));
        DWORD start = GetTickCount();
        EXPECT_EQ(0, lib.ConnSendMessage(connection, device.port(), "/upcmd.cgi", message));
        DWORD took = GetTickCount() - start;
        EXPECT_EQ(ErrorTimedOut, lib.ConnGetLastError(connection));
        DWORD limit = limits.receive ? limits.receive : limits.total;
        EXPECT_GE(took + 50, limit);
        EXPECT_LT(took, limit + 2500);  // the answer itself comes only after 4000 ms
        lib.ConnClose(connection);
        lib.MsgFree(message);
    }
}

TEST_F(ProtocolLibraryTest, ConnectTimeOutEndsTheWaitForAHostThatDoesNotAnswer)
{
    // WinINet itself would wait minutes for this connection.
    DeviceSimulator device({"--no-accept"});
    ASSERT_TRUE(device.started());
    ProtocolHandle message = UserListRequest();
    ProtocolHandle connection = lib.ConnOpen("127.0.0.1");
    ASSERT_EQ(1, lib.ConnSetTimeouts(connection, 500, 0, 60000, 0));
    DWORD start = GetTickCount();
    EXPECT_EQ(0, lib.ConnSendMessage(connection, device.port(), "/upcmd.cgi", message));
    DWORD took = GetTickCount() - start;
    EXPECT_EQ(ErrorTimedOut, lib.ConnGetLastError(connection));
    EXPECT_GE(took + 50, 500u);
    EXPECT_LT(took, 3000u);
    lib.ConnClose(connection);
    lib.MsgFree(message);
}

TEST_F(ProtocolLibraryTest, CancelReturnsAtOnceAndTheLibraryStaysLoadedUntilTheRequestEnds)
{
    DeviceSimulator device({"--delay-ms", "3000"});
    ASSERT_TRUE(device.started());
    ProtocolHandle message = UserListRequest();
    ProtocolHandle connection = lib.ConnOpen("127.0.0.1");
    ASSERT_EQ(1, lib.ConnSetWaitWindow(connection, 60, "Device Caption", "Please wait.", "&Stop"));
    DWORD start = GetTickCount();
    DWORD returned;
    SeenWaitWindow seen;
    {
        WaitWindowClicker clicker(100);
        EXPECT_EQ(0, lib.ConnSendMessage(connection, device.port(), "/upcmd.cgi", message));
        returned = GetTickCount();
        ASSERT_TRUE(clicker.WaitForClick(1000));
        seen = clicker.seen();
    }
    EXPECT_EQ(ErrorCancelled, lib.ConnGetLastError(connection));
    EXPECT_LT(returned - seen.clickTick, 1000u);
    EXPECT_LT(returned - start, 2500u);
    EXPECT_EQ("Device Caption", seen.caption);
    EXPECT_EQ("Please wait.", seen.text);
    EXPECT_EQ("&Stop", seen.button);
    EXPECT_EQ(nullptr, FindWaitWindow());
    lib.ConnClose(connection);
    lib.MsgFree(message);

    // The request's thread still runs and holds the module.
    FreeProtocolLibrary(lib);
    EXPECT_NE(nullptr, GetModuleHandleA(LibraryPath().c_str()));
    DWORD unloaded = 0;
    while (GetTickCount() - start < 8000) {
        if (!GetModuleHandleA(LibraryPath().c_str())) {
            unloaded = GetTickCount();
            break;
        }
        Sleep(20);
    }
    ASSERT_NE(0u, unloaded) << "the request's thread never let the module go";
    EXPECT_GE(unloaded - start, 2900u);
    ASSERT_EQ(1, LoadProtocolLibraryFrom(LibraryPath().c_str(), lib));
}

TEST_F(ProtocolLibraryTest, EscapeAndEnterInTheWaitWindowCancelToo)
{
    DeviceSimulator device({"--delay-ms", "3000"});
    ASSERT_TRUE(device.started());
    for (UINT key : {VK_ESCAPE, VK_RETURN}) {
        ProtocolHandle message = UserListRequest();
        ProtocolHandle connection = lib.ConnOpen("127.0.0.1");
        lib.ConnSetWaitWindow(connection, 0, "Caption", "Text", "&Cancel");
        DWORD start = GetTickCount();
        {
            WaitWindowClicker clicker(100, key);
            EXPECT_EQ(0, lib.ConnSendMessage(connection, device.port(), "/upcmd.cgi", message)) << key;
            EXPECT_TRUE(clicker.WaitForClick(1000)) << key;
        }
        EXPECT_EQ(ErrorCancelled, lib.ConnGetLastError(connection)) << key;
        EXPECT_LT(GetTickCount() - start, 2500u) << key;
        lib.ConnClose(connection);
        lib.MsgFree(message);
    }
}

TEST_F(ProtocolLibraryTest, QuitDuringTheWaitCancelsAndIsPostedAgain)
{
    DeviceSimulator device({"--delay-ms", "3000"});
    ASSERT_TRUE(device.started());
    ProtocolHandle message = UserListRequest();
    ProtocolHandle connection = lib.ConnOpen("127.0.0.1");
    PostQuitMessage(3);
    DWORD start = GetTickCount();
    EXPECT_EQ(0, lib.ConnSendMessage(connection, device.port(), "/upcmd.cgi", message));
    EXPECT_LT(GetTickCount() - start, 2000u);
    EXPECT_EQ(ErrorCancelled, lib.ConnGetLastError(connection));
    MSG quit;
    ASSERT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(3u, quit.wParam);
    lib.ConnClose(connection);
    lib.MsgFree(message);
}

namespace {

int ClicksSeen = 0;
int PostsSeen = 0;

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_LBUTTONDOWN)
        ++ClicksSeen;
    if (message == WM_USER)
        ++PostsSeen;
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

TEST_F(ProtocolLibraryTest, DuringTheWaitOtherWindowsGetTheirMessagesButNoInput)
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = CountingProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "QrvCountingWindow";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA("QrvCountingWindow", "", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, window);
    DeviceSimulator device({"--delay-ms", "500"});
    ASSERT_TRUE(device.started());
    ClicksSeen = PostsSeen = 0;
    PostMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    PostMessageA(window, WM_USER, 0, 0);
    ProtocolHandle message;
    DWORD error;
    EXPECT_EQ(1, SendUserList(device, message, error));
    EXPECT_EQ(1, PostsSeen);
    EXPECT_EQ(0, ClicksSeen);
    lib.MsgFree(message);
    DestroyWindow(window);
}

TEST_F(ProtocolLibraryTest, HostileAnswersAreRefused)
{
    const std::vector<std::vector<std::string>> hostile = {{"--malformed"}, {"--deep", "40"}};
    for (const auto& switches : hostile) {
        DeviceSimulator device(switches);
        ASSERT_TRUE(device.started());
        ProtocolHandle message;
        DWORD error;
        EXPECT_EQ(0, SendUserList(device, message, error)) << switches[0];
        EXPECT_EQ(ErrorBadAnswer, error) << switches[0];
        EXPECT_EQ(0u, lib.MsgFirstElement(message, AnyTag)) << switches[0];
        lib.MsgFree(message);
    }
    // Nesting within the bound is walked.
    DeviceSimulator device({"--deep", "25"});
    ProtocolHandle message;
    DWORD error;
    ASSERT_EQ(1, SendUserList(device, message, error));
    std::vector<std::string> walked = WalkTexts(message);
    ASSERT_EQ(39u, walked.size());
    EXPECT_EQ("USERNAME=Carol Chen", walked.back());
    lib.MsgFree(message);

    // An answer past the size bound is not a failure: what arrived whole within it is walked.
    DeviceSimulator oversized({"--oversized", "17000000"});
    ASSERT_EQ(1, SendUserList(oversized, message, error));
    walked = WalkTexts(message);
    ASSERT_EQ(14u, walked.size());
    EXPECT_EQ("USERNAME=Carol Chen", walked.back());
    lib.MsgFree(message);
}

TEST_F(ProtocolLibraryTest, ArgumentsAndAddressesAreChecked)
{
    DeviceSimulator device;
    ASSERT_TRUE(device.started());
    TempFolder folder;
    ProtocolHandle connection = lib.ConnOpen("127.0.0.1");
    ProtocolHandle unset = lib.MsgCreate(TagTable);
    EXPECT_EQ(0, lib.ConnSendMessage(connection, device.port(), "/upcmd.cgi", unset));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), lib.ConnGetLastError(connection));
    lib.MsgFree(unset);
    EXPECT_EQ(0, lib.ConnDownloadFile(connection, device.port(), "/strage/00001000.tif", 1, (folder / "a").c_str(), 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), lib.ConnGetLastError(connection));
    EXPECT_EQ(0, lib.ConnDownloadFile(connection, 0, "/strage/00001000.tif", 0, (folder / "a").c_str(), 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), lib.ConnGetLastError(connection));
    lib.ConnClose(connection);

    for (const char* address : {"127.0.0.1:8080", "http://127.0.0.1", "user@127.0.0.1", "127.0.0.1/x", "", "a b"}) {
        ProtocolHandle message = UserListRequest();
        connection = lib.ConnOpen(address);
        EXPECT_EQ(0, lib.ConnSendMessage(connection, device.port(), "/upcmd.cgi", message)) << address;
        EXPECT_EQ(ErrorRefusedAddress, lib.ConnGetLastError(connection)) << address;
        lib.ConnClose(connection);
        lib.MsgFree(message);
    }
    EXPECT_EQ(0, device.RequestCount());
}

TEST_F(ProtocolLibraryTest, DevicePathsOffTheDeviceAreRefusedBeforeAnyTraffic)
{
    DeviceSimulator device;
    ASSERT_TRUE(device.started());
    TempFolder folder;
    std::string local = folder / "doc.tif";
    std::string port = std::to_string(device.port());
    for (const std::string& path :
         {"http://127.0.0.1:" + port + "/strage/00001000.tif", std::string("//127.0.0.1/strage/00001000.tif"),
          std::string("strage/00001000.tif"), std::string("/strage/0000 1000.tif"), std::string("/strage\\x.tif"),
          std::string("/strage/\x01.tif"), std::string("/strage/\xE9.tif"), std::string("/a#b"), std::string("")}) {
        ProtocolHandle connection = lib.ConnOpen("127.0.0.1");
        EXPECT_EQ(0, lib.ConnDownloadFile(connection, device.port(), path.c_str(), 0, local.c_str(), 0)) << path;
        EXPECT_EQ(ErrorRefusedAddress, lib.ConnGetLastError(connection)) << path;
        lib.ConnClose(connection);
    }
    EXPECT_EQ(0, device.RequestCount());
    EXPECT_TRUE(FilesIn(folder.path()).empty());
}

TEST_F(ProtocolLibraryTest, DownloadStoresTheWholeFileUnderItsName)
{
    DeviceSimulator device;
    ASSERT_TRUE(device.started());
    TempFolder folder;
    std::string local = folder / "doc.tif";
    WriteFileText(local, "an older file");
    ProtocolHandle connection = lib.ConnOpen("127.0.0.1");
    ASSERT_EQ(1, lib.ConnDownloadFile(connection, device.port(), "/strage/00001005.tif", 0, local.c_str(), 0));
    EXPECT_EQ(0u, lib.ConnGetLastError(connection));
    std::string expected = ReadFileText(SampleStorageFolder() + "documents\\00001005.tif");
    ASSERT_GT(expected.size(), 1000u);
    EXPECT_TRUE(ReadFileText(local) == expected);
    EXPECT_EQ(std::vector<std::string>{"doc.tif"}, FilesIn(folder.path()));
    lib.ConnClose(connection);
}

TEST_F(ProtocolLibraryTest, FailedDownloadsLeaveNothingBehind)
{
    struct Case {
        std::vector<std::string> switches;
        const char* path;
        DWORD limit;
        DWORD error;  // 0: any failure
    } cases[] = {
        {{"--cut-files"}, "/strage/00001005.tif", 0, ErrorBadAnswer},
        {{"--drop-files"}, "/strage/00001005.tif", 0, 0},
        {{}, "/strage/FFFFFFFF.tif", 0, 404},
        {{}, "/strage/00001005.tif", 1000, ErrorBadAnswer},
    };
    for (const Case& c : cases) {
        DeviceSimulator device(c.switches);
        ASSERT_TRUE(device.started());
        TempFolder folder;
        std::string local = folder / "doc.tif";
        ProtocolHandle connection = lib.ConnOpen("127.0.0.1");
        EXPECT_EQ(0, lib.ConnDownloadFile(connection, device.port(), c.path, 0, local.c_str(), c.limit)) << c.path;
        DWORD error = lib.ConnGetLastError(connection);
        if (c.error) {
            EXPECT_EQ(c.error, error) << c.path;
        }
        EXPECT_NE(0u, error);
        EXPECT_NE(ErrorCancelled, error);
        EXPECT_TRUE(FilesIn(folder.path()).empty()) << c.path;
        lib.ConnClose(connection);
    }
}

TEST_F(ProtocolLibraryTest, ReceiveTimeOutCountsFromTheLastBytesThatArrived)
{
    // 4 KiB every 100 ms: never silent for a second, though a 64 KiB block takes 1.6 s.
    DeviceSimulator steady({"--file-pace-ms", "100", "--file-piece", "4096"});
    ASSERT_TRUE(steady.started());
    TempFolder folder;
    std::string local = folder / "doc.tif";
    ProtocolHandle connection = lib.ConnOpen("127.0.0.1");
    lib.ConnSetTimeouts(connection, 10000, 0, 1000, 0);
    EXPECT_EQ(1, lib.ConnDownloadFile(connection, steady.port(), "/strage/00001002.tif", 0, local.c_str(), 0));
    EXPECT_EQ(0u, lib.ConnGetLastError(connection));
    EXPECT_TRUE(ReadFileText(local) == ReadFileText(SampleStorageFolder() + "documents\\00001002.tif"));
    lib.ConnClose(connection);

    // Silent for 3 s in the middle of the body: the time-out ends the fetch, and its file is
    // gone at once, so that its folder can go too.
    DeviceSimulator stalling({"--file-pace-ms", "3000", "--file-piece", "4096"});
    TempFolder work;
    connection = lib.ConnOpen("127.0.0.1");
    lib.ConnSetTimeouts(connection, 10000, 0, 500, 0);
    DWORD start = GetTickCount();
    EXPECT_EQ(0, lib.ConnDownloadFile(connection, stalling.port(), "/strage/00001002.tif", 0,
                                      (work / "doc.tif").c_str(), 0));
    EXPECT_EQ(ErrorTimedOut, lib.ConnGetLastError(connection));
    EXPECT_LT(GetTickCount() - start, 2500u);
    EXPECT_TRUE(FilesIn(work.path()).empty());
    EXPECT_TRUE(RemoveDirectoryA(work.path().c_str()));
    lib.ConnClose(connection);
}

TEST_F(ProtocolLibraryTest, CancelledDownloadLeavesNothingOnceItsThreadEnds)
{
    DeviceSimulator device({"--file-delay-ms", "3000"});
    ASSERT_TRUE(device.started());
    TempFolder folder;
    std::string local = folder / "doc.tif";
    ProtocolHandle connection = lib.ConnOpen("127.0.0.1");
    lib.ConnSetWaitWindow(connection, 0, "Caption", "Text", "&Cancel");
    DWORD start = GetTickCount();
    {
        WaitWindowClicker clicker(50);
        EXPECT_EQ(0, lib.ConnDownloadFile(connection, device.port(), "/strage/00001005.tif", 0, local.c_str(), 0));
    }
    EXPECT_EQ(ErrorCancelled, lib.ConnGetLastError(connection));
    EXPECT_LT(GetTickCount() - start, 2500u);
    lib.ConnClose(connection);
    // The worker receives the whole file after the delay, then throws it away.
    while (GetTickCount() - start < 3500)
        Sleep(50);
    while (GetTickCount() - start < 10000 && !FilesIn(folder.path()).empty())
        Sleep(50);
    EXPECT_TRUE(FilesIn(folder.path()).empty());
    EXPECT_FALSE(FileExists(local));
}

namespace {

// What the process holds: memory, handles, threads. (Wine reports no private bytes and no
// handle count of its own, so both are counted here.)
// One load of the library, one request with its wait window, one free; then the time for the
// request's thread to let the module go. Returns the module the library was loaded as.
HMODULE LoadRequestFree(const DeviceSimulator& device)
{
    ProtocolLibrary lib;
    if (!LoadProtocolLibraryFrom(LibraryPath().c_str(), lib))
        return nullptr;
    HMODULE module = lib.module;
    ProtocolHandle message = lib.MsgCreate(TagTable);
    lib.MsgInit(message);
    lib.MsgSetMode(message, MessageModeXmlRequest);
    lib.MsgBeginElement(message, TagServer);
    lib.MsgAddText(message, TagCommand, "GETUSERID");
    lib.MsgEndElement(message);
    ProtocolHandle connection = lib.ConnOpen("127.0.0.1");
    lib.ConnSetWaitWindow(connection, 0, "Caption", "Text", "&Cancel");
    bool sent = lib.ConnSendMessage(connection, device.port(), "/upcmd.cgi", message) == 1 &&
                lib.MsgFirstElement(message, AnyTag) != 0;
    lib.ConnClose(connection);
    lib.MsgFree(message);
    FreeProtocolLibrary(lib);
    for (int i = 0; i < 500 && GetModuleHandleA(LibraryPath().c_str()); ++i)
        Sleep(2);
    return sent && !GetModuleHandleA(LibraryPath().c_str()) ? module : nullptr;
}

// QRV_LOAD_CYCLES=1000 measures a long day; the default keeps the guard to seconds.
int CyclesFromEnvironment(int fallback)
{
    char text[16];
    DWORD length = GetEnvironmentVariableA("QRV_LOAD_CYCLES", text, sizeof text);
    int cycles = length > 0 && length < sizeof text ? atoi(text) : 0;
    return cycles > 0 ? cycles : fallback;
}

}  // namespace

// An application that loads and frees the source all day loads and frees the library each
// time: nothing may stay behind. What used to: the runtime's exception buffer (about 72 kB a
// load on x64, 19 kB on x86) and, on x86, a thread-local storage slot and two handles a load,
// which ran the process out of slots after about a thousand loads. What stays now is WinINet's
// own (under Wine under 1 kB a cycle), within the memory bound below.
TEST(ProtocolLibraryLifetime, LoadingAndFreeingLeavesNothingBehind)
{
    DeviceSimulator device;
    ASSERT_TRUE(device.started());
    // The first cycles settle what the process keeps once (the system's own libraries).
    for (int i = 0; i < 5; ++i)
        ASSERT_NE(nullptr, LoadRequestFree(device));
    ProcessFigures before = Figures();
    int cycles = CyclesFromEnvironment(40);
    HMODULE module = nullptr;
    for (int i = 0; i < cycles; ++i)
        ASSERT_NE(nullptr, module = LoadRequestFree(device)) << "cycle " << i;
    ProcessFigures after = Figures();
    PrintFigures("load/request/free cycles", cycles, before, after);

    EXPECT_EQ(before.tlsSlots, after.tlsSlots);
    EXPECT_LE(after.handles, before.handles + 2);
    EXPECT_LE(after.threads, before.threads + 1);  // the last request's thread may still be ending
    EXPECT_LT(after.committedKb - before.committedKb, 6.0 * cycles);
    // The wait window's class went with the library.
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    EXPECT_FALSE(GetClassInfoExA(module, WaitWindowClass, &windowClass));
}
