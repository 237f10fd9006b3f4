// The project's data source manager, loaded into the test as an application loads it and driven
// through DSM_Entry: finding sources, opening and closing them, routing, its own refusals, and
// the sources' notifications delivered through the application's event loop.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "source/twain.h"
#include "tests/windows/support/box_watcher.h"
#include "tests/windows/support/twain_tools.h"
#include "source/manager_notifications.h"

namespace {

constexpr UINT AppMessage = WM_USER + 7;
constexpr UINT ConsumedMessage = WM_USER + 8;

std::vector<UINT> WindowReceived;

LRESULT CALLBACK AppWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= WM_USER && message < 0xC000)
        WindowReceived.push_back(message);
    return DefWindowProcA(window, message, wParam, lParam);
}

std::string Text(const char (&field)[34])
{
    return std::string(field, strnlen(field, sizeof field));
}

class ManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        manager = LoadLibraryA((ToolsFolder() + ManagerLibraryName).c_str());
        ASSERT_NE(nullptr, manager);
        dsm = reinterpret_cast<DSMENTRYPROC>(GetProcAddress(manager, "DSM_Entry"));
        ASSERT_NE(nullptr, dsm);
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = AppWindowProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "QrvManagerTestApp";
        RegisterClassA(&windowClass);
        window = CreateWindowExA(0, "QrvManagerTestApp", "app", WS_OVERLAPPEDWINDOW, 0, 0, 50, 50,
                                 nullptr, nullptr, windowClass.hInstance, nullptr);
        WindowReceived.clear();
        app.ProtocolMajor = 1;
        app.ProtocolMinor = 9;
        app.SupportedGroups = DG_CONTROL | DG_IMAGE;
        strcpy(app.Manufacturer, "QRV Project");
        strcpy(app.ProductFamily, "Tests");
        strcpy(app.ProductName, "Manager tests");
    }

    void TearDown() override
    {
        DestroyWindow(window);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        if (manager)
            FreeLibrary(manager);
    }

    TW_UINT16 Call(pTW_IDENTITY destination, TW_UINT32 group, TW_UINT16 argumentType,
                   TW_UINT16 message, void* data)
    {
        return dsm(&app, destination, group, argumentType, message, data);
    }

    TW_UINT16 ManagerStatus()
    {
        TW_STATUS status{0xFFFF, 0xFFFF};
        EXPECT_EQ(TWRC_SUCCESS, Call(nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &status));
        return status.ConditionCode;
    }

    TW_UINT16 SourceStatus(TW_IDENTITY& source)
    {
        TW_STATUS status{0xFFFF, 0xFFFF};
        EXPECT_EQ(TWRC_SUCCESS, Call(&source, DG_CONTROL, DAT_STATUS, MSG_GET, &status));
        return status.ConditionCode;
    }

    TW_UINT16 OpenManager(HWND* parent)
    {
        return Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, parent);
    }
    TW_UINT16 OpenManager() { return OpenManager(&window); }
    TW_UINT16 CloseManager() { return Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &window); }

    TW_UINT16 OpenSource(const char* name, TW_IDENTITY& source)
    {
        source = TW_IDENTITY{};
        strcpy(source.ProductName, name);
        return Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source);
    }

    TW_UINT16 CloseSource(TW_IDENTITY& source)
    {
        TW_IDENTITY copy = source;
        return Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &copy);
    }

    TW_UINT16 Enable(TW_IDENTITY& source)
    {
        TW_USERINTERFACE userInterface{TRUE, FALSE, window};
        return Call(&source, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &userInterface);
    }

    TW_UINT16 Disable(TW_IDENTITY& source)
    {
        TW_USERINTERFACE userInterface{FALSE, FALSE, window};
        return Call(&source, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &userInterface);
    }

    std::vector<TW_IDENTITY> Enumerate()
    {
        std::vector<TW_IDENTITY> found;
        TW_IDENTITY identity{};
        TW_UINT16 result = Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &identity);
        while (result == TWRC_SUCCESS) {
            found.push_back(identity);
            result = Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &identity);
        }
        EXPECT_EQ(TWRC_ENDOFLIST, result);
        return found;
    }

    // The application's event loop: every message goes to MSG_PROCESSEVENT first; the
    // notifications answered in TWMessage are collected.
    std::vector<TW_UINT16> Pump(TW_IDENTITY& source, DWORD milliseconds, size_t wanted = 100)
    {
        std::vector<TW_UINT16> notifications;
        DWORD start = GetTickCount();
        while (GetTickCount() - start < milliseconds && notifications.size() < wanted) {
            MSG message;
            if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
                continue;
            }
            TW_EVENT event{&message, MSG_NULL};
            if (Call(&source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event) == TWRC_DSEVENT) {
                if (event.TWMessage != MSG_NULL)
                    notifications.push_back(event.TWMessage);
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        return notifications;
    }

    SourceFolder sources;
    HMODULE manager = nullptr;
    DSMENTRYPROC dsm = nullptr;
    HWND window = nullptr;
    TW_IDENTITY app{};
};

using Notifications = std::vector<TW_UINT16>;

}  // namespace

TEST_F(ManagerTest, AnswersOnlyStatusAndOpeningBeforeItIsOpened)
{
    TW_IDENTITY identity{};
    EXPECT_EQ(TWRC_FAILURE, Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &identity));
    EXPECT_EQ(TWCC_SEQERROR, ManagerStatus());
    EXPECT_EQ(TWCC_SUCCESS, ManagerStatus());  // read once
    EXPECT_EQ(TWRC_FAILURE, CloseManager());
    EXPECT_EQ(TWCC_SEQERROR, ManagerStatus());
    TW_IDENTITY source{};
    source.Id = 2;
    EXPECT_EQ(TWRC_FAILURE, Call(&source, DG_CONTROL, DAT_STATUS, MSG_GET, &identity));
    EXPECT_EQ(TWCC_SEQERROR, ManagerStatus());
}

TEST_F(ManagerTest, OpensOnceForItsApplicationAndAssignsItsId)
{
    app.Id = 0;
    ASSERT_EQ(TWRC_SUCCESS, OpenManager());
    EXPECT_NE(0u, app.Id);
    EXPECT_EQ(TWRC_FAILURE, OpenManager());
    EXPECT_EQ(TWCC_SEQERROR, ManagerStatus());

    TW_IDENTITY stranger = app;
    stranger.Id = app.Id + 100;
    TW_IDENTITY identity{};
    EXPECT_EQ(TWRC_FAILURE, dsm(&stranger, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &identity));
    EXPECT_EQ(TWCC_SEQERROR, ManagerStatus());

    EXPECT_EQ(TWRC_SUCCESS, CloseManager());
    EXPECT_EQ(TWRC_FAILURE, CloseManager());
    EXPECT_EQ(TWCC_SEQERROR, ManagerStatus());
    HWND notAWindow = reinterpret_cast<HWND>(0x7654);
    EXPECT_EQ(TWRC_FAILURE, OpenManager(&notAWindow));
    EXPECT_EQ(TWCC_BADVALUE, ManagerStatus());
}

TEST_F(ManagerTest, FindsEverySourceBelowItsFoldersInOrderAndSkipsWhatCannotLoad)
{
    sources.AddTestSource("b", "name Beta\n");
    sources.AddTestSource("a", "name Alpha\n");
    sources.AddTestSource("a\\deeper\\still", "name Deep\n");
    std::string broken = sources.AddTestSource("c", "name Broken\n");
    WriteFileText(broken + "qrvtestsrc.ds", "not a module");
    std::string lonely = sources.AddTestSource("d", "name Lonely\n");
    DeleteFileA((lonely + "qrvtestcompanion.dll").c_str());  // it cannot load without it
    std::string renamed = sources.AddTestSource("e", "name Renamed\n");
    MoveFileA((renamed + "qrvtestsrc.ds").c_str(), (renamed + "qrvtestsrc.dll").c_str());

    ASSERT_EQ(TWRC_SUCCESS, OpenManager());
    std::vector<TW_IDENTITY> found = Enumerate();
    ASSERT_EQ(3u, found.size());
    EXPECT_EQ("Alpha", Text(found[0].ProductName));
    EXPECT_EQ("Deep", Text(found[1].ProductName));
    EXPECT_EQ("Beta", Text(found[2].ProductName));
    for (const TW_IDENTITY& identity : found)
        EXPECT_EQ(0u, identity.Id);
    // The companion DLL beside the source was found: the source's own folder was searched.
    EXPECT_EQ("QRV Tests", Text(found[0].ProductFamily));
    EXPECT_EQ("QRV Project", Text(found[0].Manufacturer));
    EXPECT_EQ(9, found[0].ProtocolMinor);

    TW_IDENTITY identity{};
    EXPECT_EQ(TWRC_ENDOFLIST, Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &identity));
    EXPECT_EQ(TWRC_SUCCESS, Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &identity));
    EXPECT_EQ("Alpha", Text(identity.ProductName));

    // Loaded, asked its identity with the application's Id as origin, unloaded again.
    std::vector<std::string> log = Lines(sources.Log("a"));
    ASSERT_EQ(3u, log.size());
    EXPECT_EQ("loaded \"Alpha\"", log[0]);
    EXPECT_EQ("call 0001 0003 0001 from " + std::to_string(app.Id), log[1]);
    EXPECT_EQ("unloaded", log[2]);
    EXPECT_EQ(TWRC_SUCCESS, CloseManager());
}

TEST_F(ManagerTest, FindsSourcesInstalledBelowTheWindowsTwainFolder)
{
    sources.AddTestSource("a", "name Alpha\n");
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    std::string name = "System Gamma " + std::to_string(GetCurrentProcessId());
#ifdef _WIN64
    std::string system = std::string(windows) + "\\twain_64\\";
#else
    std::string system = std::string(windows) + "\\twain_32\\";
#endif
    std::string installed = system + "qrv-manager-test-" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(system.c_str(), nullptr);
    CreateDirectoryA(installed.c_str(), nullptr);
    std::string built = ToolsFolder() + "test_source\\";
    ASSERT_TRUE(CopyInto(built + "qrvtestsrc.ds", installed));
    ASSERT_TRUE(CopyInto(built + "qrvtestcompanion.dll", installed));
    WriteFileText(installed + "test_source.txt", "name " + name + "\n");

    ASSERT_EQ(TWRC_SUCCESS, OpenManager());
    std::vector<TW_IDENTITY> withoutSystem = Enumerate();
    sources.IncludeSystemSources(true);
    std::vector<TW_IDENTITY> found = Enumerate();
    EXPECT_EQ(TWRC_SUCCESS, CloseManager());
    RemoveTree(installed);

    ASSERT_EQ(1u, withoutSystem.size());
    ASSERT_FALSE(found.empty());
    EXPECT_EQ("Alpha", Text(found[0].ProductName));  // the test folder comes first
    int position = -1;
    for (size_t i = 0; i < found.size(); ++i)
        if (Text(found[i].ProductName) == name)
            position = int(i);
    EXPECT_GT(position, 0);
}

TEST_F(ManagerTest, OpensSourcesWithTheApplicationAsOriginAndClosesThem)
{
    sources.AddTestSource("a", "name Alpha\n");
    sources.AddTestSource("b", "name Beta\n");
    ASSERT_EQ(TWRC_SUCCESS, OpenManager());

    TW_IDENTITY beta, alpha;
    ASSERT_EQ(TWRC_SUCCESS, OpenSource("Beta", beta));
    EXPECT_EQ("Beta", Text(beta.ProductName));
    EXPECT_NE(0u, beta.Id);
    EXPECT_NE(app.Id, beta.Id);
    EXPECT_TRUE(HasLine(sources.Log("b"), "opened by " + std::to_string(app.Id) +
                                              " \"Manager tests\" as " + std::to_string(beta.Id)));

    // No name: the default source, which is the first found.
    ASSERT_EQ(TWRC_SUCCESS, OpenSource("", alpha));
    EXPECT_EQ("Alpha", Text(alpha.ProductName));
    EXPECT_NE(beta.Id, alpha.Id);

    ASSERT_EQ(TWRC_SUCCESS, CloseSource(beta));
    std::vector<std::string> log = Lines(sources.Log("b"));
    int closed = LineIndex(log, "call 0001 0003 0402 from " + std::to_string(app.Id));
    EXPECT_GE(closed, 0);
    EXPECT_EQ("unloaded", log.back());
    TW_STATUS status{};
    EXPECT_EQ(TWRC_FAILURE, Call(&beta, DG_CONTROL, DAT_STATUS, MSG_GET, &status));
    EXPECT_EQ(TWCC_BADDEST, ManagerStatus());

    EXPECT_EQ(TWRC_FAILURE, CloseManager());  // Alpha is still open
    EXPECT_EQ(TWCC_SEQERROR, ManagerStatus());
    ASSERT_EQ(TWRC_SUCCESS, CloseSource(alpha));
    EXPECT_EQ(TWRC_SUCCESS, CloseManager());
}

TEST_F(ManagerTest, RefusesWithItsOwnConditionCodes)
{
    sources.AddTestSource("a", "name Alpha\n");
    ASSERT_EQ(TWRC_SUCCESS, OpenManager());
    TW_IDENTITY alpha, nobody, again;
    EXPECT_EQ(TWRC_FAILURE, OpenSource("Nobody", nobody));
    EXPECT_EQ(TWCC_NODS, ManagerStatus());
    ASSERT_EQ(TWRC_SUCCESS, OpenSource("Alpha", alpha));
    EXPECT_EQ(TWRC_FAILURE, OpenSource("Alpha", again));
    EXPECT_EQ(TWCC_SEQERROR, ManagerStatus());

    TW_IDENTITY unknown{};
    unknown.Id = 9999;
    TW_STATUS status{};
    EXPECT_EQ(TWRC_FAILURE, Call(&unknown, DG_CONTROL, DAT_STATUS, MSG_GET, &status));
    EXPECT_EQ(TWCC_BADDEST, ManagerStatus());
    TW_CAPABILITY capability{ICAP_XFERMECH, TWON_ONEVALUE, nullptr};
    EXPECT_EQ(TWRC_FAILURE, Call(nullptr, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &capability));
    EXPECT_EQ(TWCC_BADDEST, ManagerStatus());
    TW_IDENTITY identity{};
    EXPECT_EQ(TWRC_FAILURE, Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GET, &identity));
    EXPECT_EQ(TWCC_BADPROTOCOL, ManagerStatus());
    EXPECT_EQ(TWRC_FAILURE, Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_GET, &window));
    EXPECT_EQ(TWCC_BADPROTOCOL, ManagerStatus());
    EXPECT_EQ(TWRC_FAILURE, Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, nullptr));
    EXPECT_EQ(TWCC_BADVALUE, ManagerStatus());
    EXPECT_EQ(TWRC_FAILURE, Call(nullptr, DG_CONTROL, DAT_STATUS, MSG_SET, &status));
    EXPECT_EQ(TWCC_BADPROTOCOL, ManagerStatus());

    ASSERT_EQ(TWRC_SUCCESS, CloseSource(alpha));
    EXPECT_EQ(TWRC_FAILURE, CloseSource(alpha));
    EXPECT_EQ(TWCC_BADDEST, ManagerStatus());
    EXPECT_EQ(TWRC_SUCCESS, CloseManager());
}

TEST_F(ManagerTest, ASourceThatRefusesToOpenIsUnloadedAndItsCodeReported)
{
    sources.AddTestSource("a", "name Shy\nrefuse 0003 0401 16\n");
    ASSERT_EQ(TWRC_SUCCESS, OpenManager());
    TW_IDENTITY shy;
    EXPECT_EQ(TWRC_FAILURE, OpenSource("Shy", shy));
    EXPECT_EQ(TWCC_DENIED, ManagerStatus());
    std::vector<std::string> log = Lines(sources.Log("a"));
    ASSERT_FALSE(log.empty());
    EXPECT_GE(LineIndex(log, "refused 16"), 0);
    EXPECT_EQ("unloaded", log.back());
    EXPECT_EQ(TWRC_SUCCESS, CloseManager());  // nothing stayed open
}

TEST_F(ManagerTest, RoutesEveryOtherTripletToItsSourceUnchanged)
{
    sources.AddTestSource("a", "name Alpha\n");
    ASSERT_EQ(TWRC_SUCCESS, OpenManager());
    TW_IDENTITY alpha;
    ASSERT_EQ(TWRC_SUCCESS, OpenSource("Alpha", alpha));

    HGLOBAL container = GlobalAlloc(GHND, sizeof(TW_ONEVALUE));
    auto* value = static_cast<TW_ONEVALUE*>(GlobalLock(container));
    *value = {TWTY_UINT16, TWSX_MEMORY};
    GlobalUnlock(container);
    TW_CAPABILITY capability{ICAP_XFERMECH, TWON_ONEVALUE, container};
    EXPECT_EQ(TWRC_SUCCESS, Call(&alpha, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability));
    GlobalFree(container);
    EXPECT_TRUE(HasLine(sources.Log("a"), "cap 0103 set 2 type 4"));

    // The source's refusal is the source's: its status says why, the manager's stays clear.
    TW_IMAGEINFO info{};
    EXPECT_EQ(TWRC_FAILURE, Call(&alpha, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info));
    EXPECT_EQ(TWCC_SEQERROR, SourceStatus(alpha));
    EXPECT_EQ(TWCC_SUCCESS, ManagerStatus());

    // Data groups the manager does not know still reach the source.
    EXPECT_EQ(TWRC_FAILURE, Call(&alpha, DG_AUDIO, 0x0201, MSG_GET, &info));
    EXPECT_TRUE(HasLine(sources.Log("a"), "call 0004 0201 0001 from " + std::to_string(app.Id)));
    EXPECT_EQ(TWCC_BADPROTOCOL, SourceStatus(alpha));

    TW_IDENTITY asked{};
    EXPECT_EQ(TWRC_SUCCESS, Call(&alpha, DG_CONTROL, DAT_IDENTITY, MSG_GET, &asked));
    EXPECT_EQ(alpha.Id, asked.Id);

    ASSERT_EQ(TWRC_SUCCESS, CloseSource(alpha));
    EXPECT_EQ(TWRC_SUCCESS, CloseManager());
}

TEST_F(ManagerTest, DeliversNotificationsThroughTheEventLoop)
{
    sources.AddTestSource("one", "name One\natenable xferready\n");
    sources.AddTestSource("both", "name Both\natenable both\n");
    ASSERT_EQ(TWRC_SUCCESS, OpenManager());

    TW_IDENTITY one;
    ASSERT_EQ(TWRC_SUCCESS, OpenSource("One", one));
    ASSERT_EQ(TWRC_SUCCESS, Enable(one));
    EXPECT_EQ(Notifications{MSG_XFERREADY}, Pump(one, 10000, 1));
    EXPECT_EQ(Notifications{}, Pump(one, 300));
    TW_PENDINGXFERS pending{};
    EXPECT_EQ(TWRC_SUCCESS, Call(&one, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending));
    EXPECT_EQ(Notifications{MSG_CLOSEDSREQ}, Pump(one, 10000, 1));
    EXPECT_EQ(TWRC_SUCCESS, Disable(one));
    EXPECT_EQ(TWRC_SUCCESS, CloseSource(one));

    // Both notifications sent in a row arrive, in the order sent.
    TW_IDENTITY both;
    ASSERT_EQ(TWRC_SUCCESS, OpenSource("Both", both));
    ASSERT_EQ(TWRC_SUCCESS, Enable(both));
    EXPECT_EQ((Notifications{MSG_XFERREADY, MSG_CLOSEDSREQ}), Pump(both, 10000, 2));
    EXPECT_EQ(Notifications{}, Pump(both, 300));
    EXPECT_EQ(TWRC_SUCCESS, Call(&both, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending));
    Pump(both, 300);
    EXPECT_EQ(TWRC_SUCCESS, Disable(both));
    EXPECT_EQ(TWRC_SUCCESS, CloseSource(both));
    EXPECT_EQ(TWRC_SUCCESS, CloseManager());
}

TEST_F(ManagerTest, EventsGoToTheSourceFirstAndNoWindowMessageIsLost)
{
    sources.AddTestSource("a", "name Alpha\natenable xferready\nconsume 0x408\n");
    ASSERT_EQ(TWRC_SUCCESS, OpenManager());
    TW_IDENTITY alpha;
    ASSERT_EQ(TWRC_SUCCESS, OpenSource("Alpha", alpha));
    PostMessageA(window, AppMessage, 0, 0);
    PostMessageA(window, ConsumedMessage, 0, 0);
    ASSERT_EQ(TWRC_SUCCESS, Enable(alpha));
    PostMessageA(window, AppMessage, 1, 0);

    EXPECT_EQ(Notifications{MSG_XFERREADY}, Pump(alpha, 10000, 1));
    Pump(alpha, 200);
    // The application's own messages reached its window; the one the source took did not.
    EXPECT_EQ((std::vector<UINT>{AppMessage, AppMessage}), WindowReceived);
    EXPECT_TRUE(HasLine(sources.Log("a"), "consumed 0408"));

    TW_PENDINGXFERS pending{};
    EXPECT_EQ(TWRC_SUCCESS, Call(&alpha, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending));
    Pump(alpha, 300);
    EXPECT_EQ(TWRC_SUCCESS, Disable(alpha));
    EXPECT_EQ(TWRC_SUCCESS, CloseSource(alpha));
    EXPECT_EQ(TWRC_SUCCESS, CloseManager());
}

TEST_F(ManagerTest, AWakeUpSwallowedByAModalLoopIsPostedAgain)
{
    sources.AddTestSource("a", "name Alpha\natenable xferready\n");
    ASSERT_EQ(TWRC_SUCCESS, OpenManager());
    TW_IDENTITY alpha;
    ASSERT_EQ(TWRC_SUCCESS, OpenSource("Alpha", alpha));
    ASSERT_EQ(TWRC_SUCCESS, Enable(alpha));
    // A modal loop (a message box, a dialog) dispatches everything without MSG_PROCESSEVENT.
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
    // The application's next event brings the notification back.
    PostMessageA(window, AppMessage, 0, 0);
    EXPECT_EQ(Notifications{MSG_XFERREADY}, Pump(alpha, 10000, 1));
    EXPECT_EQ(Notifications{}, Pump(alpha, 300));

    TW_PENDINGXFERS pending{};
    EXPECT_EQ(TWRC_SUCCESS, Call(&alpha, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending));
    Pump(alpha, 300);
    EXPECT_EQ(TWRC_SUCCESS, Disable(alpha));
    EXPECT_EQ(TWRC_SUCCESS, CloseSource(alpha));
    EXPECT_EQ(TWRC_SUCCESS, CloseManager());
}

TEST_F(ManagerTest, WithoutAWindowNotificationsGoToTheApplicationsThread)
{
    sources.AddTestSource("a", "name Alpha\natenable closereq\n");
    ASSERT_EQ(TWRC_SUCCESS, OpenManager(nullptr));
    TW_IDENTITY alpha;
    ASSERT_EQ(TWRC_SUCCESS, OpenSource("Alpha", alpha));
    ASSERT_EQ(TWRC_SUCCESS, Enable(alpha));
    EXPECT_EQ(Notifications{MSG_CLOSEDSREQ}, Pump(alpha, 10000, 1));
    EXPECT_EQ(TWRC_SUCCESS, Disable(alpha));
    EXPECT_EQ(TWRC_SUCCESS, CloseSource(alpha));
    EXPECT_EQ(TWRC_SUCCESS, CloseManager());
}

TEST_F(ManagerTest, TakesOnlyWellFormedNotificationsAndDropsThemWithTheirSource)
{
    sources.AddTestSource("a", "name Alpha\n");
    ASSERT_EQ(TWRC_SUCCESS, OpenManager());
    TW_IDENTITY alpha;
    ASSERT_EQ(TWRC_SUCCESS, OpenSource("Alpha", alpha));

    TW_IDENTITY elsewhere = app;
    elsewhere.Id = app.Id + 50;
    EXPECT_EQ(TWRC_FAILURE, dsm(&alpha, &elsewhere, DG_CONTROL, DAT_NULL, MSG_XFERREADY, nullptr));
    EXPECT_EQ(TWRC_FAILURE, dsm(&alpha, nullptr, DG_CONTROL, DAT_NULL, MSG_XFERREADY, nullptr));
    EXPECT_EQ(TWRC_FAILURE, dsm(&alpha, &app, DG_CONTROL, DAT_NULL, MSG_GET, nullptr));
    EXPECT_EQ(TWRC_FAILURE, dsm(&alpha, &app, DG_IMAGE, DAT_NULL, MSG_XFERREADY, nullptr));
    EXPECT_EQ(Notifications{}, Pump(alpha, 300));

    EXPECT_EQ(TWRC_SUCCESS, dsm(&alpha, &app, DG_CONTROL, DAT_NULL, MSG_CLOSEDSREQ, nullptr));
    ASSERT_EQ(TWRC_SUCCESS, CloseSource(alpha));
    // A closed source cannot notify, and what it had queued is gone.
    EXPECT_NE(TWRC_SUCCESS, dsm(&alpha, &app, DG_CONTROL, DAT_NULL, MSG_CLOSEDSREQ, nullptr));
    TW_IDENTITY reopened;
    ASSERT_EQ(TWRC_SUCCESS, OpenSource("Alpha", reopened));
    EXPECT_NE(alpha.Id, reopened.Id);
    EXPECT_EQ(Notifications{}, Pump(reopened, 300));
    ASSERT_EQ(TWRC_SUCCESS, CloseSource(reopened));
    EXPECT_EQ(TWRC_SUCCESS, CloseManager());
}

namespace {

struct SelectionSeen {
    std::vector<std::string> items;
    int preselected = -1;
};

// Plays the user in the selection dialog: records it, selects choice (or cancels when -1).
void AnswerSelection(SelectionSeen& seen, int choice)
{
    for (int tries = 0; tries < 200; ++tries) {
        HWND dialog = FindWindowA("#32770", "Select Source");
        if (dialog && IsWindowVisible(dialog)) {
            HWND list = GetDlgItem(dialog, 101);
            int count = int(SendMessageA(list, LB_GETCOUNT, 0, 0));
            for (int i = 0; i < count; ++i) {
                char text[64] = "";
                SendMessageA(list, LB_GETTEXT, i, LPARAM(text));
                seen.items.push_back(text);
            }
            seen.preselected = int(SendMessageA(list, LB_GETCURSEL, 0, 0));
            if (choice >= 0)
                SendMessageA(list, LB_SETCURSEL, choice, 0);
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(choice >= 0 ? IDOK : IDCANCEL, BN_CLICKED), 0);
            return;
        }
        Sleep(25);
    }
}

}  // namespace

TEST_F(ManagerTest, UserSelectShowsTheSourcesAndRemembersTheChoice)
{
    sources.AddTestSource("a", "name Alpha\n");
    sources.AddTestSource("b", "name Beta\n");
    ASSERT_EQ(TWRC_SUCCESS, OpenManager());

    SelectionSeen first;
    std::thread user([&] { AnswerSelection(first, 1); });
    TW_IDENTITY chosen{};
    EXPECT_EQ(TWRC_SUCCESS, Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &chosen));
    user.join();
    ASSERT_GE(first.items.size(), 2u);
    EXPECT_EQ("Alpha", first.items[0]);
    EXPECT_EQ("Beta", first.items[1]);
    EXPECT_EQ(0, first.preselected);
    EXPECT_EQ("Beta", Text(chosen.ProductName));

    TW_IDENTITY identity{};
    EXPECT_EQ(TWRC_SUCCESS, Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &identity));
    EXPECT_EQ("Beta", Text(identity.ProductName));

    SelectionSeen second;
    std::thread cancel([&] { AnswerSelection(second, -1); });
    TW_IDENTITY none{};
    EXPECT_EQ(TWRC_CANCEL, Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &none));
    cancel.join();
    EXPECT_EQ(1, second.preselected);
    EXPECT_EQ(TWRC_SUCCESS, CloseManager());
}

TEST_F(ManagerTest, FindsOpensAndClosesTheRealSource)
{
    BoxWatcher boxes;
    sources.AddRealSource("orvel", "Manager Test Orvel");
    ASSERT_EQ(TWRC_SUCCESS, OpenManager());
    std::vector<TW_IDENTITY> found = Enumerate();
    const TW_IDENTITY* real = nullptr;
    for (const TW_IDENTITY& identity : found)
        if (Text(identity.ProductName) == "Manager Test Orvel")
            real = &identity;
    ASSERT_NE(nullptr, real);
    EXPECT_EQ("VANTREL WORKS,LTD.", Text(real->Manufacturer));
    EXPECT_EQ("TWAIN", Text(real->ProductFamily));
    EXPECT_EQ(1, real->ProtocolMajor);
    EXPECT_EQ(6, real->ProtocolMinor);
    EXPECT_EQ(DG_CONTROL | DG_IMAGE, real->SupportedGroups);

    TW_IDENTITY source;
    ASSERT_EQ(TWRC_SUCCESS, OpenSource("Manager Test Orvel", source));
    EXPECT_NE(0u, source.Id);
    TW_IDENTITY asked{};
    EXPECT_EQ(TWRC_SUCCESS, Call(&source, DG_CONTROL, DAT_IDENTITY, MSG_GET, &asked));
    EXPECT_EQ(source.Id, asked.Id);  // the source keeps the Id the manager gave it
    EXPECT_EQ(TWCC_SUCCESS, SourceStatus(source));
    EXPECT_EQ(TWRC_SUCCESS, CloseSource(source));
    EXPECT_EQ(TWRC_SUCCESS, CloseManager());
    EXPECT_TRUE(boxes.Boxes().empty());
}
