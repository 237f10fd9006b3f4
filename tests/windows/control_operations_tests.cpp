// The control operations run inside the test executable: every control triplet in every state,
// and the rules of enabling, pending transfers, set-ups and notifications.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "device/message_presentation.h"
#include "source/capability_store.h"
#include "source/control_operations.h"
#include "source/manager_notifications.h"
#include "source/page_sequencing.h"
#include "source/source_state.h"
#include "source/transfer_state.h"
#include "source/triplet_dispatch.h"
#include "tests/windows/support/attached_core.h"
#include "tests/windows/support/box_watcher.h"
#include "tests/windows/support/test_files.h"

namespace {

TW_IDENTITY TestApp()
{
    TW_IDENTITY app{};
    app.Id = 7;
    app.ProtocolMajor = 1;
    app.ProtocolMinor = 9;
    strcpy(app.ProductName, "Control tests");
    return app;
}

class ControlOperations : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(AttachCore("[TWAIN]\r\nDriverName=Control Test\r\nInvisibleWEB=1\r\n"));
        app = TestApp();
    }
    void TearDown() override
    {
        if (SourceWindow)
            DestroyWindow(SourceWindow);
        SourceWindow = nullptr;
        WriteCoreIni("");
    }

    TW_UINT16 Call(TW_UINT32 group, TW_UINT16 argumentType, TW_UINT16 message, void* data)
    {
        return DispatchTriplet(&app, group, argumentType, message, data);
    }
    TW_UINT16 Open()
    {
        TW_IDENTITY identity = SourceIdentity;
        identity.Id = 3;
        return Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &identity);
    }
    // Puts the source into a state as the operations that lead there would leave it.
    void EnterState(int state)
    {
        if (state >= StateOpen) {
            ASSERT_EQ(TWRC_SUCCESS, Open());
        }
        if (state >= StateEnabled) {
            TW_USERINTERFACE ui{TRUE, FALSE, nullptr};
            ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
        }
        if (state >= StateXferReady)
            NotifyXferReady();
        // No operation reaches state 7 before the memory transfer exists: set it directly.
        if (state == StateTransferring)
            SourceState = StateTransferring;
        ASSERT_EQ(state, SourceState);
    }

    TW_IDENTITY app;
};

// What a triplet does in one state.
struct Outcome {
    TW_UINT16 result;
    TW_UINT16 code;
    int nextState;  // 0: unchanged
    bool box;
};

const Outcome Ok{TWRC_SUCCESS, TWCC_SUCCESS, 0, false};
const Outcome Seq{TWRC_FAILURE, TWCC_SEQERROR, 0, true};
const Outcome Proto{TWRC_FAILURE, TWCC_BADPROTOCOL, 0, true};
const Outcome Unknown{TWRC_FAILURE, TWCC_BADPROTOCOL, 0, false};
const Outcome NotEvent{TWRC_NOTDSEVENT, TWCC_SUCCESS, 0, false};
const Outcome Unsupported{TWRC_FAILURE, TWCC_CAPUNSUPPORTED, 0, false};
Outcome OkTo(int state) { return {TWRC_SUCCESS, TWCC_SUCCESS, state, false}; }

struct TripletCase {
    const char* name;
    TW_UINT32 group;
    TW_UINT16 argumentType;
    TW_UINT16 message;
    Outcome inState[5];  // states 3 to 7
};

// The data each triplet receives: large enough for any of them, prepared per argument type.
union TripletData {
    TW_IDENTITY identity;
    TW_USERINTERFACE userInterface;
    TW_CAPABILITY capability;
    TW_STATUS status;
    TW_PENDINGXFERS pending;
    TW_SETUPMEMXFER memory;
    TW_SETUPFILEXFER file;
    TW_UINT32 group;
    TW_EVENT event;
    TW_JPEGCOMPRESSION jpeg;
    unsigned char bytes[2048];
};

}  // namespace

TEST_F(ControlOperations, EveryTripletInEveryState)
{
    TempFolder folder;
    std::string transferFile = folder / "page.bmp";
    MSG windowMessage{};
    windowMessage.message = WM_KEYDOWN;
    windowMessage.wParam = 'A';

    const TripletCase cases[] = {
        {"identity get", DG_CONTROL, DAT_IDENTITY, MSG_GET, {Ok, Ok, Ok, Ok, Ok}},
        {"open", DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, {OkTo(4), Seq, Seq, Seq, Seq}},
        {"close", DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, {Seq, OkTo(3), OkTo(3), OkTo(3), OkTo(3)}},
        {"identity set", DG_CONTROL, DAT_IDENTITY, MSG_SET, {Proto, Proto, Proto, Proto, Proto}},
        {"enable", DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, {Seq, OkTo(5), Seq, Seq, Seq}},
        {"disable", DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, {Seq, Seq, OkTo(4), OkTo(4), OkTo(4)}},
        {"enable ui only", DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDSUIONLY, {Proto, Proto, Proto, Proto, Proto}},
        {"capability get", DG_CONTROL, DAT_CAPABILITY, MSG_GET, {Unsupported, Ok, Ok, Ok, Ok}},
        {"capability first", DG_CONTROL, DAT_CAPABILITY, MSG_GETFIRST, {Unsupported, Unsupported, Unsupported, Unsupported, Unsupported}},
        {"status", DG_CONTROL, DAT_STATUS, MSG_GET, {Ok, Ok, Ok, Ok, Ok}},
        {"status set", DG_CONTROL, DAT_STATUS, MSG_SET, {Proto, Proto, Proto, Proto, Proto}},
        {"pending get", DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, {Seq, Ok, Ok, Ok, Ok}},
        {"end transfer", DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, {Seq, OkTo(6), Seq, OkTo(6), OkTo(6)}},
        {"pending reset", DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, {Seq, Seq, Seq, OkTo(5), OkTo(5)}},
        {"pending set", DG_CONTROL, DAT_PENDINGXFERS, MSG_SET, {Proto, Proto, Proto, Proto, Proto}},
        {"memory set-up", DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, {Seq, Ok, Ok, Ok, Seq}},
        {"memory set-up set", DG_CONTROL, DAT_SETUPMEMXFER, MSG_SET, {Seq, Proto, Proto, Proto, Seq}},
        {"file set-up get", DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, {Seq, Ok, Ok, Ok, Seq}},
        {"file set-up current", DG_CONTROL, DAT_SETUPFILEXFER, MSG_GETCURRENT, {Seq, Ok, Ok, Ok, Seq}},
        {"file set-up default", DG_CONTROL, DAT_SETUPFILEXFER, MSG_GETDEFAULT, {Seq, Ok, Ok, Ok, Seq}},
        {"file set-up set", DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, {Seq, Ok, Ok, Ok, Seq}},
        {"file set-up reset", DG_CONTROL, DAT_SETUPFILEXFER, MSG_RESET, {Seq, Proto, Proto, Proto, Seq}},
        {"group get", DG_CONTROL, DAT_XFERGROUP, MSG_GET, {Seq, Ok, Ok, Ok, Seq}},
        {"group reset", DG_CONTROL, DAT_XFERGROUP, MSG_RESET, {Seq, Ok, Ok, Ok, Seq}},
        {"group set", DG_CONTROL, DAT_XFERGROUP, MSG_SET, {Seq, Ok, Ok, Ok, Seq}},
        {"group first", DG_CONTROL, DAT_XFERGROUP, MSG_GETFIRST, {Seq, Proto, Proto, Proto, Seq}},
        {"group next", DG_CONTROL, DAT_XFERGROUP, MSG_GETNEXT, {Seq, Proto, Proto, Proto, Seq}},
        {"process event", DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, {NotEvent, NotEvent, NotEvent, NotEvent, NotEvent}},
        {"event get", DG_CONTROL, DAT_EVENT, MSG_GET, {Unknown, Unknown, Unknown, Unknown, Unknown}},
        {"null", DG_CONTROL, DAT_NULL, MSG_XFERREADY, {Unknown, Unknown, Unknown, Unknown, Unknown}},
        {"parent", DG_CONTROL, DAT_PARENT, MSG_OPENDSM, {Unknown, Unknown, Unknown, Unknown, Unknown}},
        {"jpeg", DG_IMAGE, DAT_JPEGCOMPRESSION, MSG_GET, {Ok, Ok, Ok, Ok, Ok}},
    };

    for (const TripletCase& c : cases) {
        for (int state = StateLoaded; state <= StateTransferring; ++state) {
            SCOPED_TRACE(std::string(c.name) + " in state " + std::to_string(state));
            ASSERT_TRUE(AttachCore("[TWAIN]\r\nDriverName=Control Test\r\nInvisibleWEB=1\r\n"));
            EnterState(state);
            CloseRequested = false;

            TripletData data{};
            switch (c.argumentType) {
            case DAT_IDENTITY:
                data.identity = SourceIdentity;
                data.identity.Id = 3;
                break;
            case DAT_CAPABILITY:
                data.capability.Cap = ICAP_XRESOLUTION;
                data.capability.ConType = TWON_DONTCARE16;
                break;
            case DAT_SETUPFILEXFER:
                strcpy(data.file.FileName, transferFile.c_str());
                break;
            case DAT_EVENT:
                data.event.pEvent = &windowMessage;
                break;
            }
            ConditionCode = TWCC_SUCCESS;
            const Outcome& expected = c.inState[state - StateLoaded];
            BoxWatcher boxes;
            EXPECT_EQ(expected.result, Call(c.group, c.argumentType, c.message, &data));
            EXPECT_EQ(expected.code, ConditionCode);
            EXPECT_EQ(expected.nextState ? expected.nextState : state, SourceState);
            EXPECT_EQ(expected.box ? 1u : 0u, boxes.Boxes().size());
            if (expected.box && !boxes.Boxes().empty()) {
                EXPECT_EQ("Application error.", boxes.Boxes()[0].text);
                EXPECT_EQ("Control Test", boxes.Boxes()[0].caption);
            }
            if (c.argumentType == DAT_CAPABILITY && data.capability.hContainer)
                GlobalFree(data.capability.hContainer);
            if (SourceWindow)
                DestroyWindow(SourceWindow);
            SourceWindow = nullptr;
        }
    }
}

TEST_F(ControlOperations, EnablingShowsTheWindowWhatEverShowUISaysAndDisablesTheParent)
{
    HWND parent = CreateWindowA("STATIC", "application", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                nullptr, nullptr, nullptr, nullptr);
    ASSERT_EQ(TWRC_SUCCESS, Open());
    TW_USERINTERFACE ui{FALSE, FALSE, parent};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
    ASSERT_NE(nullptr, SourceWindow);
    EXPECT_TRUE(IsWindowVisible(SourceWindow));
    EXPECT_EQ(nullptr, GetWindow(SourceWindow, GW_OWNER));
    EXPECT_FALSE(IsWindowEnabled(parent));
    char caption[64];
    GetWindowTextA(SourceWindow, caption, sizeof caption);
    EXPECT_STREQ("Control Test", caption);  // "DriverName" names the window

    HWND window = SourceWindow;
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, nullptr));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(nullptr, SourceWindow);
    EXPECT_TRUE(IsWindowEnabled(parent));

    // Closing in state 5, without disabling first, takes the window down as well: the module
    // may be unloaded next.
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
    window = SourceWindow;
    EXPECT_FALSE(IsWindowEnabled(parent));
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(nullptr, SourceWindow);
    EXPECT_TRUE(IsWindowEnabled(parent));
    DestroyWindow(parent);
}

TEST_F(ControlOperations, TheDesktopWindowAsParentIsNeverDisabled)
{
    ASSERT_EQ(TWRC_SUCCESS, Open());
    TW_USERINTERFACE ui{TRUE, FALSE, GetDesktopWindow()};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
    EXPECT_TRUE(IsWindowEnabled(GetDesktopWindow()));
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, nullptr));
    EXPECT_TRUE(IsWindowEnabled(GetDesktopWindow()));
}

// A close requested before this enable (an earlier window, an earlier batch) hides nothing; a
// close requested by the window's own start-up (no work folder can be made) leaves the window
// created but not shown.
TEST_F(ControlOperations, OnlyTheEnablesOwnCloseRequestKeepsTheWindowHidden)
{
    ASSERT_EQ(TWRC_SUCCESS, Open());
    NotifyCloseDsReq();
    TW_USERINTERFACE ui{TRUE, FALSE, nullptr};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
    ASSERT_NE(nullptr, SourceWindow);
    EXPECT_TRUE(IsWindowVisible(SourceWindow));
    EXPECT_FALSE(CloseRequested);
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui));

    char saved[MAX_PATH] = "";
    GetEnvironmentVariableA("TMP", saved, sizeof saved);
    SetEnvironmentVariableA("TMP", "C:\\no such folder\\");
    EXPECT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
    SetEnvironmentVariableA("TMP", saved[0] ? saved : nullptr);
    ASSERT_NE(nullptr, SourceWindow);
    EXPECT_FALSE(IsWindowVisible(SourceWindow));
    EXPECT_TRUE(CloseRequested);
    EXPECT_EQ(StateEnabled, SourceState);
}

TEST_F(ControlOperations, AWindowThatCannotBeCreatedIsRefusedWithLowMemory)
{
    HWND parent = CreateWindowA("STATIC", "application", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                nullptr, nullptr, nullptr, nullptr);
    ASSERT_EQ(TWRC_SUCCESS, Open());
    // A module without the window's template stands in for a creation that fails.
    HMODULE noTemplates = LoadLibraryExA((TestDataFolder() + "test_qrvkbxr.dll").c_str(), nullptr,
                                         LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, noTemplates);
    HMODULE own = OwnModule;
    OwnModule = noTemplates;
    BoxWatcher boxes;
    TW_USERINTERFACE ui{TRUE, FALSE, parent};
    EXPECT_EQ(TWRC_FAILURE, Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
    OwnModule = own;
    FreeLibrary(noTemplates);
    EXPECT_EQ(TWCC_LOWMEMORY, ConditionCode);
    EXPECT_EQ(StateOpen, SourceState);
    EXPECT_TRUE(IsWindowEnabled(parent));
    // The stand-in module also supplied the box's text.
    EXPECT_EQ(std::vector<std::string>{"Application error (resource module)."}, BoxTexts(boxes.Boxes()));
    DestroyWindow(parent);
}

TEST_F(ControlOperations, PendingCountsFollowTheFeederAndThePagesRemaining)
{
    ASSERT_EQ(TWRC_SUCCESS, Open());
    TW_PENDINGXFERS pending{};
    // Feeder off: one page per batch, none while strips are under way.
    for (int state : {StateOpen, StateEnabled, StateXferReady, StateTransferring}) {
        SourceState = state;
        pending.Count = 99;
        ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending));
        EXPECT_EQ(state == StateTransferring ? 0 : 1, pending.Count) << state;
    }
    SourceState = StateXferReady;
    PageSequence.PagesRemaining = 3;
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending));
    EXPECT_EQ(0, pending.Count);
    EXPECT_TRUE(CloseRequested);

    // Feeder on: more pages follow while the document has pages left.
    CloseRequested = false;
    SetFeederEnabled(true);
    SourceState = StateTransferring;
    TransferState.StripBytesPerRow = 216;
    TransferState.StripRowOffset = 40;
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending));
    EXPECT_EQ(1, pending.Count);
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending));
    EXPECT_EQ(0xFFFF, pending.Count);
    EXPECT_FALSE(CloseRequested);
    EXPECT_EQ(StateXferReady, SourceState);
    EXPECT_EQ(0u, TransferState.StripBytesPerRow);
    EXPECT_EQ(0u, TransferState.StripRowOffset);

    ClearPagesPending();
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending));
    EXPECT_EQ(0, pending.Count);
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending));
    EXPECT_EQ(0, pending.Count);
    EXPECT_TRUE(CloseRequested);
}

TEST_F(ControlOperations, EndTransferInStateFiveRequestsTheCloseAndIsThenRefused)
{
    ASSERT_EQ(TWRC_SUCCESS, Open());
    SourceState = StateEnabled;
    TransferState.StripRowOffset = 9;
    BoxWatcher boxes;
    TW_PENDINGXFERS pending{7, {0}};
    EXPECT_EQ(TWRC_FAILURE, Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending));
    EXPECT_EQ(TWCC_SEQERROR, ConditionCode);
    EXPECT_EQ(0, pending.Count);
    EXPECT_TRUE(CloseRequested);
    EXPECT_EQ(0u, TransferState.StripRowOffset);
    EXPECT_EQ(StateEnabled, SourceState);
    EXPECT_EQ(1u, boxes.Boxes().size());
}

TEST_F(ControlOperations, ResetAbortsTheTransfer)
{
    ASSERT_EQ(TWRC_SUCCESS, Open());
    SourceState = StateTransferring;
    PageSequence.PagesRemaining = 4;
    TransferState.HeldPage = GlobalAlloc(GMEM_FIXED, 64);
    TransferState.PageRowBytes = 216;
    TW_PENDINGXFERS pending{9, {0}};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending));
    EXPECT_EQ(0, pending.Count);
    EXPECT_EQ(StateEnabled, SourceState);
    EXPECT_EQ(0, PageSequence.PagesRemaining);
    EXPECT_EQ(nullptr, TransferState.HeldPage);
    EXPECT_EQ(0u, TransferState.PageRowBytes);
    EXPECT_TRUE(CloseRequested);
}

TEST_F(ControlOperations, MemorySetUpPrefersOneByteLessThan64K)
{
    ASSERT_EQ(TWRC_SUCCESS, Open());
    TW_SETUPMEMXFER setup{};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup));
    EXPECT_EQ(16384u, setup.MinBufSize);
    EXPECT_EQ(65535u, setup.MaxBufSize);
    EXPECT_EQ(65535u, setup.Preferred);
}

// The file set-up and ICAP_IMAGEFILEFORMAT are one setting: each answers what the other set.
TEST_F(ControlOperations, FileSetUpAnswersWhatWasSetAndRefusesFormatsItCannotWrite)
{
    TempFolder folder;
    BoxWatcher boxes;
    auto fileFormatCapability = [&](TW_UINT16 message, TW_UINT16 value) {
        HGLOBAL container = GlobalAlloc(GHND, sizeof(TW_ONEVALUE));
        auto* one = static_cast<TW_ONEVALUE*>(GlobalLock(container));
        *one = {TWTY_UINT16, value};
        GlobalUnlock(container);
        TW_CAPABILITY capability{ICAP_IMAGEFILEFORMAT, TWON_ONEVALUE, message == MSG_SET ? container : nullptr};
        EXPECT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_CAPABILITY, message, &capability));
        GlobalFree(container);
        TW_UINT16 answer = 0xFFFF;
        if (message != MSG_SET && capability.hContainer) {
            answer = TW_UINT16(static_cast<TW_ONEVALUE*>(GlobalLock(capability.hContainer))->Item);
            GlobalUnlock(capability.hContainer);
            GlobalFree(capability.hContainer);
        }
        return answer;
    };
    auto ask = [&](TW_UINT16 message) {
        TW_SETUPFILEXFER setup;
        memset(&setup, 0x5A, sizeof setup);  // nothing the application leaves there is taken
        setup.FileName[sizeof setup.FileName - 1] = '\0';
        EXPECT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_SETUPFILEXFER, message, &setup));
        EXPECT_EQ(0, setup.VRefNum);
        return std::make_pair(std::string(setup.FileName), setup.Format);
    };
    const auto defaults = std::make_pair(std::string("TWAIN.TMP"), TW_UINT16(TWFF_TIFF));
    TW_SETUPFILEXFER setup{};
    strcpy(setup.FileName, (folder / "early.bmp").c_str());
    setup.Format = TWFF_BMP;
    EXPECT_EQ(TWRC_FAILURE, Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup));
    EXPECT_EQ(TWCC_SEQERROR, ConditionCode);

    ASSERT_EQ(TWRC_SUCCESS, Open());
    EXPECT_EQ(defaults, ask(MSG_GET));
    EXPECT_EQ(defaults, ask(MSG_GETCURRENT));
    EXPECT_EQ(defaults, ask(MSG_GETDEFAULT));

    // A format the transfer does not write is refused at the set, and nothing of it is kept.
    strcpy(setup.FileName, (folder / "page.jpg").c_str());
    setup.Format = 4;  // TWFF_JFIF
    boxes.Clear();
    EXPECT_EQ(TWRC_FAILURE, Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup));
    EXPECT_EQ(TWCC_BADVALUE, ConditionCode);
    ASSERT_EQ(1u, boxes.Boxes().size());
    EXPECT_EQ("Application error.", boxes.Boxes()[0].text);
    EXPECT_FALSE(FileExists(folder / "page.jpg"));
    EXPECT_EQ(defaults, ask(MSG_GET));

    // A name of 300 characters is cut to 255; the file is created empty, and an existing file
    // keeps its content until the transfer.
    std::string longName = folder / std::string(300, 'f');
    std::string name = longName.substr(0, 255);
    memcpy(setup.FileName, longName.c_str(), sizeof setup.FileName);
    setup.Format = TWFF_BMP;
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup));
    EXPECT_TRUE(FileExists(name));
    EXPECT_EQ("", ReadFileText(name));
    EXPECT_EQ(std::make_pair(name, TW_UINT16(TWFF_BMP)), ask(MSG_GET));
    EXPECT_EQ(std::make_pair(name, TW_UINT16(TWFF_BMP)), ask(MSG_GETCURRENT));
    EXPECT_EQ(defaults, ask(MSG_GETDEFAULT));
    EXPECT_EQ(TWFF_BMP, fileFormatCapability(MSG_GETCURRENT, 0));
    WriteFileText(name, "kept");
    strcpy(setup.FileName, name.c_str());
    setup.Format = TWFF_TIFF;
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup));
    EXPECT_EQ("kept", ReadFileText(name));
    EXPECT_EQ(TWFF_TIFF, fileFormatCapability(MSG_GETCURRENT, 0));
    fileFormatCapability(MSG_SET, TWFF_BMP);
    EXPECT_EQ(std::make_pair(name, TW_UINT16(TWFF_BMP)), ask(MSG_GET));

    // A name that cannot be created is refused as before, and the last good set stays.
    strcpy(setup.FileName, (folder / "missing\\page.bmp").c_str());
    setup.Format = TWFF_TIFF;
    boxes.Clear();
    EXPECT_EQ(TWRC_FAILURE, Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup));
    EXPECT_EQ(TWCC_SEQERROR, ConditionCode);
    EXPECT_EQ(1u, boxes.Boxes().size());
    EXPECT_EQ(std::make_pair(name, TW_UINT16(TWFF_BMP)), ask(MSG_GET));
}

TEST_F(ControlOperations, TransferGroupIsAlwaysImage)
{
    ASSERT_EQ(TWRC_SUCCESS, Open());
    TW_UINT32 group = 0x40;
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_XFERGROUP, MSG_SET, &group));
    group = 0;
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_XFERGROUP, MSG_GET, &group));
    EXPECT_EQ(DG_IMAGE, group);
}

TEST_F(ControlOperations, TransferReadyNotificationEntersStateSixWithoutAManager)
{
    ASSERT_EQ(TWRC_SUCCESS, Open());
    SourceState = StateEnabled;
    NotifyXferReady();
    EXPECT_EQ(StateXferReady, SourceState);
    EXPECT_FALSE(CloseRequested);
}

TEST_F(ControlOperations, EscapeInTheSourceWindowRequestsTheClose)
{
    ASSERT_EQ(TWRC_SUCCESS, Open());
    TW_USERINTERFACE ui{TRUE, FALSE, nullptr};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
    SendMessageA(SourceWindow, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(CloseRequested);
    EXPECT_TRUE(IsWindow(SourceWindow));
    EXPECT_EQ(StateEnabled, SourceState);
}
