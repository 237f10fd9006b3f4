// The source's two notifications reach the application's event loop through the manager: the
// real qrvkbx.ds asked to close from its window, and the source core's own MSG_XFERREADY and
// MSG_CLOSEDSREQ delivered by the project's manager to an application in this process; and an
// application asking for pages before any is ready. A 32-bit application may use either manager,
// so the x86 tree runs each case under both names.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "source/manager_notifications.h"
#include "source/source_state.h"
#include "tests/windows/support/attached_core.h"
#include "tests/windows/support/box_watcher.h"
#include "tests/windows/support/twain_tools.h"

namespace {

// The managers an application of this architecture may load.
std::vector<std::string> ManagerNames()
{
    std::vector<std::string> names{ManagerLibraryName};
    if (names[0] != Twain2ManagerLibraryName)
        names.push_back(Twain2ManagerLibraryName);
    return names;
}

// The application's side: the manager loaded from the tools folder, as an application loads it.
class Application {
public:
    explicit Application(const std::string& managerName)
    {
        manager_ = LoadLibraryA((ToolsFolder() + managerName).c_str());
        if (manager_)
            entry_ = reinterpret_cast<DSMENTRYPROC>(GetProcAddress(manager_, "DSM_Entry"));
        window_ = CreateWindowA("STATIC", "application", 0, 0, 0, 10, 10, nullptr, nullptr,
                                nullptr, nullptr);
        identity.ProtocolMajor = 1;
        identity.ProtocolMinor = 9;
        identity.SupportedGroups = DG_CONTROL | DG_IMAGE;
        strcpy(identity.ProductName, "Notification tests");
    }
    ~Application()
    {
        if (entry_) {
            Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source);
            Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &window_);
        }
        DestroyWindow(window_);
        if (manager_)
            FreeLibrary(manager_);
    }
    bool ready() const { return entry_ != nullptr; }
    TW_UINT16 Call(TW_IDENTITY* destination, TW_UINT32 group, TW_UINT16 argumentType,
                   TW_UINT16 message, void* data)
    {
        return entry_(&identity, destination, group, argumentType, message, data);
    }
    // Opens the source whose product name is name.
    bool Open(const char* name)
    {
        if (Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &window_) != TWRC_SUCCESS)
            return false;
        memset(&source, 0, sizeof source);
        strcpy(source.ProductName, name);
        return Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source) == TWRC_SUCCESS;
    }
    // Runs the event loop until the source has notified count times or time runs out.
    std::vector<TW_UINT16> Notifications(size_t count, DWORD timeoutMs = 10000)
    {
        std::vector<TW_UINT16> seen;
        DWORD start = GetTickCount();
        while (seen.size() < count && GetTickCount() - start < timeoutMs) {
            MSG message;
            if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
                continue;
            }
            TW_EVENT event{&message, MSG_NULL};
            if (Call(&source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event) == TWRC_DSEVENT) {
                if (event.TWMessage != MSG_NULL)
                    seen.push_back(event.TWMessage);
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        return seen;
    }

    TW_IDENTITY identity{};
    TW_IDENTITY source{};

private:
    HMODULE manager_ = nullptr;
    DSMENTRYPROC entry_ = nullptr;
    HWND window_ = nullptr;
};

}  // namespace

TEST(Notifications, TheRealSourceAsksToBeClosedWhenItsWindowIsClosed)
{
    SourceFolder sources;
    std::string folder = sources.AddRealSource("orvel", "Closing Orvel");
    // Without the browser page nothing connects, so the first window is the source window itself
    // (known by its tab control), not a dialog asking for the device.
    WriteFileText(folder + "qrvcofig.ini", "[TWAIN]\r\nDriverName=Closing Orvel\r\nInvisibleWEB=1\r\n");
    TempFolder work;
    WriteFileText(work / "close.txt",
                  "wait-dialog 1071 20000\n"
                  "sleep 200\n"
                  "send 0 0x0111 2 0\n");  // WM_COMMAND IDCANCEL: Escape or the close box
    std::string out = work.path().substr(0, work.path().size() - 1);
    for (const std::string& manager : ManagerNames()) {
        SCOPED_TRACE(manager);
        ProgramRun run = RunAcquire("--manager " + manager +
                                        " --source \"Closing Orvel\" --press-boxes --timeout 30 --script \"" +
                                        work / "close.txt" + "\" --out \"" + out + "\"",
                                    work.path());
        ASSERT_TRUE(run.finished) << run.output;
        EXPECT_NE(std::string::npos, run.output.find("manager " + manager + " opened")) << run.output;
        EXPECT_NE(std::string::npos, run.output.find("MSG_CLOSEDSREQ")) << run.output;
        EXPECT_EQ(std::string::npos, run.output.find("Application error")) << run.output;
        EXPECT_EQ(std::string::npos, run.output.find("MSG_XFERREADY")) << run.output;
    }
}

TEST(Notifications, TransferReadyAndCloseRequestReachTheEventLoopInOrder)
{
    SourceFolder sources;
    sources.AddRealSource("orvel", "Notify Orvel");
    ASSERT_TRUE(AttachCore("[TWAIN]\r\nDriverName=Notify Orvel\r\n"));
    for (const std::string& manager : ManagerNames()) {
        SCOPED_TRACE(manager);
        Application app(manager);
        ASSERT_TRUE(app.ready());
        ASSERT_TRUE(app.Open("Notify Orvel"));
        // This process's source core speaks for the source the manager opened.
        SourceIdentity = app.source;
        AppIdentity = app.identity;

        SourceState = StateEnabled;
        NotifyXferReady();
        EXPECT_EQ(StateXferReady, SourceState);
        EXPECT_EQ(std::vector<TW_UINT16>{MSG_XFERREADY}, app.Notifications(1));

        NotifyCloseDsReq();
        EXPECT_TRUE(CloseRequested);
        EXPECT_EQ(std::vector<TW_UINT16>{MSG_CLOSEDSREQ}, app.Notifications(1));

        // Both in a row, before the loop runs: neither is lost.
        NotifyXferReady();
        NotifyCloseDsReq();
        EXPECT_EQ((std::vector<TW_UINT16>{MSG_XFERREADY, MSG_CLOSEDSREQ}), app.Notifications(2));
    }
    WriteCoreIni("");
}

// Transfers asked for through the manager before the source has a page (open, not enabled): each
// is refused with its condition code and the "Application error." box, nothing changes state,
// and the source then closes normally.
TEST(Notifications, TransfersOutOfOrderAreRefusedThroughTheManager)
{
    SourceFolder sources;
    sources.AddRealSource("orvel", "Early Orvel");
    for (const std::string& manager : ManagerNames()) {
        SCOPED_TRACE(manager);
        BoxWatcher boxes;
        Application app(manager);
        ASSERT_TRUE(app.ready());
        ASSERT_TRUE(app.Open("Early Orvel"));
        auto conditionOf = [&](TW_UINT16 argumentType, void* data) {
            if (app.Call(&app.source, DG_IMAGE, argumentType, MSG_GET, data) != TWRC_FAILURE)
                return -1;
            TW_STATUS status{};
            app.Call(&app.source, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
            return int(status.ConditionCode);
        };
        TW_IMAGEINFO info{};
        TW_HANDLE dib = nullptr;
        uint8_t buffer[4096];
        TW_IMAGEMEMXFER strip{};
        strip.Memory = {TWMF_APPOWNS | TWMF_POINTER, sizeof buffer, buffer};
        EXPECT_EQ(TWCC_SEQERROR, conditionOf(DAT_IMAGEINFO, &info));
        EXPECT_EQ(TWCC_SEQERROR, conditionOf(DAT_IMAGENATIVEXFER, &dib));
        EXPECT_EQ(nullptr, dib);
        EXPECT_EQ(TWCC_BADPROTOCOL, conditionOf(DAT_IMAGEFILEXFER, nullptr));
        EXPECT_EQ(TWCC_OPERATIONERROR, conditionOf(DAT_IMAGEMEMXFER, &strip));
        std::vector<ShownBox> shown = boxes.Boxes();
        ASSERT_EQ(4u, shown.size());
        for (const ShownBox& box : shown) {
            EXPECT_EQ("Early Orvel", box.caption);
            EXPECT_EQ("Application error.", box.text);
        }
        // Still open and not enabled: the source closes without a word.
        EXPECT_EQ(TWRC_SUCCESS, app.Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &app.source));
        EXPECT_EQ(4u, boxes.Boxes().size());
    }
}
