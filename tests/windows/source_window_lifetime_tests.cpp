// The source window's lifetime as applications really drive it, through the project's manager in
// this process: a close without a disable (the manager then unloads the module), an unload in
// state 5, enabling again after a close request, and the refusal box while the window is up.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "source/manager_notifications.h"
#include "source/twain.h"
#include "tests/windows/support/box_watcher.h"
#include "tests/windows/support/twain_tools.h"

namespace {

const char* const DriverName = "Lifetime Orvel";

BOOL CALLBACK CountSourceWindow(HWND window, LPARAM parameter)
{
    char text[64] = "", className[16] = "";
    GetWindowTextA(window, text, sizeof text);
    GetClassNameA(window, className, sizeof className);
    if (strcmp(className, "#32770") == 0 && strcmp(text, DriverName) == 0)
        ++*reinterpret_cast<int*>(parameter);
    return TRUE;
}

// The source's windows in this thread, shown or not: its dialogs carry "DriverName" as caption.
int SourceWindows()
{
    int count = 0;
    EnumThreadWindows(GetCurrentThreadId(), CountSourceWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

HWND FindSourceWindow() { return FindWindowA("#32770", DriverName); }

// The application's side: the manager loaded by name, a window of its own as the parent.
class Application {
public:
    Application()
    {
        manager_ = LoadLibraryA((ToolsFolder() + ManagerLibraryName).c_str());
        if (manager_)
            entry_ = reinterpret_cast<DSMENTRYPROC>(GetProcAddress(manager_, "DSM_Entry"));
        window = CreateWindowA("STATIC", "application", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                               nullptr, nullptr);
        identity.ProtocolMajor = 1;
        identity.ProtocolMinor = 9;
        identity.SupportedGroups = DG_CONTROL | DG_IMAGE;
        strcpy(identity.ProductName, "Lifetime tests");
        if (entry_)
            Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &window);
    }
    ~Application()
    {
        // Only what is still to undo: a refused request would show a box nobody presses.
        if (enabled)
            Disable();
        if (opened)
            Close();
        if (entry_)
            Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &window);
        if (IsWindow(window))
            DestroyWindow(window);
        if (manager_)
            FreeLibrary(manager_);
    }
    bool ready() const { return entry_ != nullptr; }
    TW_UINT16 Call(TW_IDENTITY* destination, TW_UINT32 group, TW_UINT16 argumentType, TW_UINT16 message, void* data)
    {
        return entry_(&identity, destination, group, argumentType, message, data);
    }
    TW_UINT16 Open()
    {
        memset(&source, 0, sizeof source);
        strcpy(source.ProductName, DriverName);
        TW_UINT16 result = Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source);
        opened = result == TWRC_SUCCESS;
        return result;
    }
    TW_UINT16 Close()
    {
        opened = enabled = false;
        return Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source);
    }
    TW_UINT16 Enable()
    {
        ui = TW_USERINTERFACE{TRUE, FALSE, window};
        TW_UINT16 result = Call(&source, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
        enabled = result == TWRC_SUCCESS;
        return result;
    }
    TW_UINT16 Disable()
    {
        enabled = false;
        return Call(&source, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    }
    // Runs the event loop, passing every message to the source first, for ms milliseconds or
    // until the source has asked to be closed (when untilCloseRequest is set).
    bool Pump(DWORD ms, bool untilCloseRequest = false)
    {
        DWORD start = GetTickCount();
        while (GetTickCount() - start < ms) {
            MSG message;
            if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
                continue;
            }
            TW_EVENT event{&message, MSG_NULL};
            if (source.Id && Call(&source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event) == TWRC_DSEVENT) {
                if (untilCloseRequest && event.TWMessage == MSG_CLOSEDSREQ)
                    return true;
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        return false;
    }

    TW_IDENTITY identity{};
    TW_IDENTITY source{};
    TW_USERINTERFACE ui{};
    HWND window = nullptr;
    bool opened = false;
    bool enabled = false;

private:
    HMODULE manager_ = nullptr;
    DSMENTRYPROC entry_ = nullptr;
};

class SourceWindowLifetime : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = sources.AddRealSource("orvel", DriverName);
        // The information page alone: these tests are about the window, not the device.
        WriteFileText(folder_ + "qrvcofig.ini", std::string("[TWAIN]\r\nDriverName=") + DriverName +
                                                    "\r\nInvisibleWEB=1\r\n");
    }
    SourceFolder sources;
    std::string folder_;
};

}  // namespace

// MSG_CLOSEDS without MSG_DISABLEDS: the manager unloads the module, and no window of it is
// left behind to crash the next message. A second open and enable has one window, also after the
// source asked to be closed, and so on for a third.
TEST_F(SourceWindowLifetime, NoWindowSurvivesACloseWithoutDisableAndNeverTwo)
{
    Application app;
    ASSERT_TRUE(app.ready());
    BoxWatcher boxes;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_EQ(TWRC_SUCCESS, app.Open());
        ASSERT_EQ(TWRC_SUCCESS, app.Enable());
        EXPECT_EQ(1, SourceWindows());
        HWND window = FindSourceWindow();
        ASSERT_NE(nullptr, window);
        EXPECT_TRUE(IsWindowVisible(window));
        EXPECT_FALSE(IsWindowEnabled(app.window));
        if (round > 0) {
            // The user closes the window: the source asks to be closed; the application then
            // closes it without disabling it first.
            PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
            EXPECT_TRUE(app.Pump(10000, true));
        }
        ASSERT_EQ(TWRC_SUCCESS, app.Close());
        EXPECT_EQ(0, SourceWindows());
        EXPECT_FALSE(IsWindow(window));
        EXPECT_TRUE(IsWindowEnabled(app.window));
        // Messages keep flowing: nothing of the unloaded module is left to receive them.
        PostMessageA(window, WM_PAINT, 0, 0);
        app.Pump(300);
    }
    EXPECT_TRUE(boxes.Boxes().empty());
}

// Every enable shows the window, however the one before ended. The user closes it with the close
// box; the application disables and enables again: shown. Closed with Escape, the source is
// closed and opened again while the module stays loaded (the application holds it, as a manager
// that keeps sources loaded would): shown. Along the way the source's share of the event loop:
// another window's message is not the source's and comes back with TWMessage MSG_NULL, and
// Alt+F4 on a control of the window is taken by the source and leads to the close request.
TEST_F(SourceWindowLifetime, EveryEnableShowsTheWindow)
{
    Application app;
    ASSERT_TRUE(app.ready());
    BoxWatcher boxes;
    ASSERT_EQ(TWRC_SUCCESS, app.Open());
    HMODULE held = LoadLibraryA((folder_ + "qrvkbx.ds").c_str());
    ASSERT_NE(nullptr, held);
    auto enableAndFind = [&]() -> HWND {
        EXPECT_EQ(TWRC_SUCCESS, app.Enable());
        HWND window = FindSourceWindow();
        EXPECT_NE(nullptr, window);
        EXPECT_TRUE(window && IsWindowVisible(window));
        return window;
    };

    HWND window = enableAndFind();
    ASSERT_NE(nullptr, window);
    MSG foreign{app.window, WM_USER + 5, 0, 0, 0, {0, 0}};
    TW_EVENT event{&foreign, MSG_XFERREADY};
    EXPECT_EQ(TWRC_NOTDSEVENT, app.Call(&app.source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event));
    EXPECT_EQ(MSG_NULL, event.TWMessage);
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(app.Pump(10000, true));
    ASSERT_EQ(TWRC_SUCCESS, app.Disable());

    // Enabled again in the same open period.
    window = enableAndFind();
    ASSERT_NE(nullptr, window);
    HWND tab = GetDlgItem(window, 1071);
    ASSERT_NE(nullptr, tab);
    MSG altF4{tab, WM_SYSKEYDOWN, VK_F4, 0x203E0001, 0, {0, 0}};
    event = TW_EVENT{&altF4, MSG_XFERREADY};
    EXPECT_EQ(TWRC_DSEVENT, app.Call(&app.source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event));
    EXPECT_EQ(MSG_NULL, event.TWMessage);
    EXPECT_TRUE(app.Pump(10000, true));
    // Without Alt it is no request to close.
    MSG plainF4{tab, WM_SYSKEYDOWN, VK_F4, 0x003E0001, 0, {0, 0}};
    event = TW_EVENT{&plainF4, MSG_NULL};
    app.Call(&app.source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
    EXPECT_FALSE(app.Pump(500, true));
    ASSERT_EQ(TWRC_SUCCESS, app.Disable());
    ASSERT_EQ(TWRC_SUCCESS, app.Close());

    // Opened again: the manager loads the module the application still holds.
    ASSERT_EQ(TWRC_SUCCESS, app.Open());
    window = enableAndFind();
    ASSERT_NE(nullptr, window);
    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(app.Pump(10000, true));
    EXPECT_TRUE(IsWindowVisible(window));  // until the application disables the source
    ASSERT_EQ(TWRC_SUCCESS, app.Disable());
    EXPECT_FALSE(IsWindow(window));
    ASSERT_EQ(TWRC_SUCCESS, app.Close());
    FreeLibrary(held);
    EXPECT_EQ(0, SourceWindows());
    EXPECT_TRUE(boxes.Boxes().empty());
}

// The module unloaded in state 5 by an application that loaded it itself: the window goes
// with it and the application's window is enabled again.
TEST_F(SourceWindowLifetime, UnloadingInStateFiveTakesTheWindowAlong)
{
    HWND parent = CreateWindowA("STATIC", "application", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                nullptr, nullptr);
    HMODULE module = LoadLibraryA((folder_ + "qrvkbx.ds").c_str());
    ASSERT_NE(nullptr, module);
    auto entry = reinterpret_cast<DSENTRYPROC>(GetProcAddress(module, "DS_Entry"));
    ASSERT_NE(nullptr, entry);
    TW_IDENTITY app{};
    app.Id = 1;
    TW_IDENTITY source{};
    entry(&app, DG_CONTROL, DAT_IDENTITY, MSG_GET, &source);
    source.Id = 2;
    ASSERT_EQ(TWRC_SUCCESS, entry(&app, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source));
    TW_USERINTERFACE ui{TRUE, FALSE, parent};
    ASSERT_EQ(TWRC_SUCCESS, entry(&app, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
    HWND window = FindSourceWindow();
    ASSERT_NE(nullptr, window);
    EXPECT_FALSE(IsWindowEnabled(parent));

    FreeLibrary(module);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(0, SourceWindows());
    EXPECT_TRUE(IsWindowEnabled(parent));
    MSG message;
    for (int i = 0; i < 20 && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE); ++i)
        DispatchMessageA(&message);
    DestroyWindow(parent);
}

// A refused request while the window is up shows "Application error." owned by the
// application's window, which stays disabled afterwards; once the application has destroyed
// its window, the box is still shown, without an owner.
TEST_F(SourceWindowLifetime, RefusalBoxesWhileTheWindowIsUp)
{
    Application app;
    ASSERT_TRUE(app.ready());
    ASSERT_EQ(TWRC_SUCCESS, app.Open());
    ASSERT_EQ(TWRC_SUCCESS, app.Enable());
    ASSERT_FALSE(IsWindowEnabled(app.window));

    BoxWatcher boxes;
    TW_USERINTERFACE again{TRUE, FALSE, app.window};
    EXPECT_EQ(TWRC_FAILURE, app.Call(&app.source, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &again));
    std::vector<ShownBox> shown = boxes.Boxes();
    ASSERT_EQ(1u, shown.size());
    EXPECT_EQ("Application error.", shown[0].text);
    EXPECT_EQ(DriverName, shown[0].caption);
    EXPECT_EQ(app.window, shown[0].owner);
    EXPECT_FALSE(IsWindowEnabled(app.window));
    EXPECT_EQ(1, SourceWindows());

    boxes.Clear();
    DestroyWindow(app.window);
    app.window = nullptr;
    EXPECT_EQ(TWRC_FAILURE, app.Call(&app.source, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &again));
    shown = boxes.Boxes();
    ASSERT_EQ(1u, shown.size());
    EXPECT_EQ("Application error.", shown[0].text);
    EXPECT_EQ(nullptr, shown[0].owner);

    EXPECT_EQ(TWRC_SUCCESS, app.Disable());
    EXPECT_EQ(0, SourceWindows());
}
