#include "tools/acquire/acquisition.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "tools/acquire/box_presser.h"
#include "tools/acquire/console_output.h"
#include "tools/acquire/page_files.h"
#include "tools/acquire/twain_names.h"
#include "tools/acquire/window_script.h"
#include "source/manager_notifications.h"

namespace {

constexpr UINT ScriptFailedMessage = WM_APP + 1;
constexpr UINT_PTR PulseTimer = 1;
// A timer keeps MSG_PROCESSEVENT calls coming even when nothing else happens, so that the
// manager can repost a wake-up message a modal loop swallowed.
constexpr UINT PulseInterval = 250;
constexpr TW_UINT32 DefaultBufferSize = 65536;
constexpr TW_UINT32 MaxBufferSize = 64u << 20;
constexpr DWORD StuckGrace = 15000;
constexpr const char* WindowClass = "QrvAcquireMain";

struct Acquisition {
    const AcquireOptions* options;
    HMODULE manager;
    DSMENTRYPROC dsm;
    HWND window;
    TW_IDENTITY app;
    TW_IDENTITY source;
    bool managerOpen;
    bool sourceOpen;
    bool sourceEnabled;
    bool transferReady;  // from MSG_XFERREADY until no page is pending
    bool done;           // leave the event loop
    int failures;
    bool flavorKnown;
    bool vanilla;
    int pagesAttempted;
    int pagesWritten;
    TW_UINT32 bufferSize;
    DWORD start;
};

Acquisition Run;

// How a page's transfer ended, and so what the source expects next.
enum class PageOutcome {
    Done,       // the source handed the page over (written here or not): MSG_ENDXFER
    Cancelled,  // the source cancelled the page: MSG_ENDXFER
    NotTaken,   // the source still holds the page (state 6): MSG_RESET gives up the batch
    Broken,     // strips went wrong half-way (state 7): MSG_ENDXFER, then give up
};

// --- calls and their reports --------------------------------------------------------------------

TW_UINT16 Call(pTW_IDENTITY destination, TW_UINT32 group, TW_UINT16 argumentType,
               TW_UINT16 message, TW_MEMREF data)
{
    return Run.dsm(&Run.app, destination, group, argumentType, message, data);
}

// Reports an answer that ends the step; always false.
bool Refused(const char* what, TW_UINT16 result, pTW_IDENTITY destination)
{
    ++Run.failures;
    if (result != TWRC_FAILURE) {
        Say("refused: %s: %s (%u)", what, ReturnCodeName(result), result);
        return false;
    }
    TW_STATUS status{};
    if (Call(destination, DG_CONTROL, DAT_STATUS, MSG_GET, &status) != TWRC_SUCCESS) {
        Say("refused: %s: TWRC_FAILURE, and DAT_STATUS failed too", what);
        return false;
    }
    Say("refused: %s: TWRC_FAILURE, condition code %u (%s)", what, status.ConditionCode,
        ConditionCodeName(status.ConditionCode));
    return false;
}

void PageError(int number, const std::string& error)
{
    ++Run.failures;
    Say("error: page %d: %s", number, error.c_str());
}

void PrintIdentity(const char* label, const TW_IDENTITY& identity)
{
    Say("%s \"%.34s\" by \"%.34s\", family \"%.34s\", version %u.%u \"%.34s\", protocol %u.%u, "
        "groups 0x%X",
        label, identity.ProductName, identity.Manufacturer, identity.ProductFamily,
        identity.Version.MajorNum, identity.Version.MinorNum, identity.Version.Info,
        identity.ProtocolMajor, identity.ProtocolMinor, unsigned(identity.SupportedGroups));
}

double Fix32Value(TW_FIX32 value)
{
    return value.Whole + value.Frac / 65536.0;
}

// --- main window ----------------------------------------------------------------------------------

void OnScriptFailed()
{
    ++Run.failures;
    Run.done = true;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case ScriptFailedMessage:
        OnScriptFailed();
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

bool CreateMainWindow()
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = WindowClass;
    RegisterClassA(&windowClass);
    Run.window = CreateWindowExA(0, WindowClass, "twacquire", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                 nullptr, nullptr, windowClass.hInstance, nullptr);
    if (!Run.window) {
        Say("error: cannot create the main window");
        ++Run.failures;
    }
    return Run.window != nullptr;
}

// --- the manager and the source -----------------------------------------------------------------

void FillAppIdentity()
{
    TW_IDENTITY& app = Run.app;
    app = TW_IDENTITY{};
    app.Version.MajorNum = 1;
    app.Version.Language = TWLG_ENGLISH;
    app.Version.Country = TWCY_USA;
    strcpy(app.Version.Info, "twacquire 1.0");
    app.ProtocolMajor = 1;
    app.ProtocolMinor = 9;
    app.SupportedGroups = DG_CONTROL | DG_IMAGE;
    strcpy(app.Manufacturer, "QRV Project");
    strcpy(app.ProductFamily, "Tools");
    strcpy(app.ProductName, "twacquire");
}

bool OpenManager()
{
    const char* name = Run.options->manager.empty() ? ManagerLibraryName : Run.options->manager.c_str();
    Run.manager = LoadLibraryA(name);
    if (!Run.manager) {
        Say("error: cannot load the manager %s (error %lu)", name, GetLastError());
        ++Run.failures;
        return false;
    }
    Run.dsm = reinterpret_cast<DSMENTRYPROC>(GetProcAddress(Run.manager, "DSM_Entry"));
    if (!Run.dsm) {
        Say("error: %s has no DSM_Entry", name);
        ++Run.failures;
        return false;
    }
    FillAppIdentity();
    TW_UINT16 result = Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &Run.window);
    if (result != TWRC_SUCCESS)
        return Refused("MSG_OPENDSM", result, nullptr);
    Run.managerOpen = true;
    Say("manager %s opened; application Id %u", name, unsigned(Run.app.Id));
    return true;
}

// Lists every source and takes the one asked for, or the first.
bool ChooseSource()
{
    const std::string& wanted = Run.options->source;
    TW_IDENTITY identity{};
    int count = 0;
    bool chosen = false;
    TW_UINT16 result = Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &identity);
    while (result == TWRC_SUCCESS) {
        char label[32];
        snprintf(label, sizeof label, "source %d:", ++count);
        PrintIdentity(label, identity);
        if (!chosen && (wanted.empty() || strncmp(wanted.c_str(), identity.ProductName, 34) == 0)) {
            Run.source = identity;
            chosen = true;
        }
        result = Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &identity);
    }
    if (result != TWRC_ENDOFLIST)
        return Refused("MSG_GETFIRST/MSG_GETNEXT", result, nullptr);
    if (count == 0) {
        Say("error: no source is installed");
        ++Run.failures;
        return false;
    }
    if (!chosen) {
        Say("error: no source is named \"%s\"", wanted.c_str());
        ++Run.failures;
        return false;
    }
    return true;
}

bool OpenSource()
{
    TW_IDENTITY identity = Run.source;
    identity.Id = 0;
    TW_UINT16 result = Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &identity);
    if (result != TWRC_SUCCESS)
        return Refused("MSG_OPENDS", result, nullptr);
    Run.source = identity;
    Run.sourceOpen = true;
    Say("opened \"%.34s\"; source Id %u", identity.ProductName, unsigned(identity.Id));
    return true;
}

bool SetCapability(TW_UINT16 cap, TW_UINT16 itemType, TW_UINT32 item, const std::string& text)
{
    HGLOBAL container = GlobalAlloc(GHND, sizeof(TW_ONEVALUE));
    if (!container) {
        Say("error: no memory for a capability");
        ++Run.failures;
        return false;
    }
    auto* value = static_cast<TW_ONEVALUE*>(GlobalLock(container));
    value->ItemType = itemType;
    value->Item = item;
    GlobalUnlock(container);
    TW_CAPABILITY capability{cap, TWON_ONEVALUE, container};
    TW_UINT16 result = Call(&Run.source, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability);
    GlobalFree(container);
    std::string what = "MSG_SET " + text;
    if (result == TWRC_CHECKSTATUS) {
        Say("set %s: the source took a value of its own", text.c_str());
        return true;
    }
    if (result != TWRC_SUCCESS)
        return Refused(what.c_str(), result, &Run.source);
    Say("set %s", text.c_str());
    return true;
}

bool Negotiate()
{
    Mechanism mechanism = Run.options->mechanism;
    TW_UINT16 value = mechanism == Mechanism::File     ? TWSX_FILE
                      : mechanism == Mechanism::Memory ? TWSX_MEMORY
                                                       : TWSX_NATIVE;
    bool ok = SetCapability(ICAP_XFERMECH, TWTY_UINT16, value,
                            std::string("transfer mechanism ") + MechanismName(mechanism));
    // A source may take file transfers without listing them among its mechanisms; the
    // transfers themselves then show whether it does.
    if (!ok && mechanism == Mechanism::File) {
        --Run.failures;
        Say("file transfer is not offered; asking for it regardless");
        ok = true;
    }
    for (const CapabilitySetting& setting : Run.options->capabilities) {
        char text[96];
        snprintf(text, sizeof text, "capability 0x%04X (%s)", setting.cap, setting.text.c_str());
        ok = SetCapability(setting.cap, setting.itemType, setting.item, text) && ok;
    }
    if (!ok)
        Say("negotiation failed: the source is not enabled");
    return ok;
}

void PrepareMemoryBuffer()
{
    TW_SETUPMEMXFER setup{};
    TW_UINT16 result = Call(&Run.source, DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup);
    TW_UINT32 size = DefaultBufferSize;
    if (result == TWRC_SUCCESS) {
        Say("memory buffers: minimum %u, maximum %u, preferred %u", unsigned(setup.MinBufSize),
            unsigned(setup.MaxBufSize), unsigned(setup.Preferred));
        if (setup.Preferred != 0 && setup.Preferred != 0xFFFFFFFF)
            size = setup.Preferred;
        else if (setup.MaxBufSize != 0 && setup.MaxBufSize != 0xFFFFFFFF)
            size = setup.MaxBufSize;
    } else {
        Refused("DAT_SETUPMEMXFER", result, &Run.source);
    }
    if (Run.options->bufferSize)
        size = Run.options->bufferSize;
    Run.bufferSize = size < MaxBufferSize ? size : MaxBufferSize;
    Say("memory buffer of %u bytes", unsigned(Run.bufferSize));
}

bool EnableSource()
{
    if (!Run.options->scriptFile.empty())
        StartWindowScript(Run.window, ScriptFailedMessage);
    TW_USERINTERFACE userInterface{TRUE, FALSE, Run.window};
    TW_UINT16 result = Call(&Run.source, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &userInterface);
    if (result != TWRC_SUCCESS && result != TWRC_CHECKSTATUS)
        return Refused("MSG_ENABLEDS", result, &Run.source);
    Run.sourceEnabled = true;
    Say("source enabled");
    return true;
}

// --- transfers ------------------------------------------------------------------------------------

std::string PagePath(int number)
{
    char name[32];
    snprintf(name, sizeof name, "page%03d.bmp", number);
    std::string folder = Run.options->outputFolder;
    if (!folder.empty() && folder.back() != '\\' && folder.back() != '/')
        folder += '\\';
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA((folder + name).c_str(), sizeof full, full, nullptr);
    return length > 0 && length < sizeof full ? full : folder + name;
}

PageOutcome NativeTransfer(int number, const std::string& path)
{
    TW_HANDLE dib = nullptr;
    TW_UINT16 result = Call(&Run.source, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib);
    if (result == TWRC_CANCEL)
        return PageOutcome::Cancelled;
    if (result != TWRC_XFERDONE) {
        Refused("DAT_IMAGENATIVEXFER", result, &Run.source);
        return PageOutcome::NotTaken;
    }
    std::string error;
    if (!dib)
        PageError(number, "the source handed over no DIB");
    else if (!WriteDibAsBmp(dib, path, error))
        PageError(number, error);
    if (dib)
        GlobalFree(dib);
    return PageOutcome::Done;
}

PageOutcome FileTransfer(int number, const std::string& path)
{
    if (path.size() >= sizeof(TW_STR255)) {
        PageError(number, "the output path is longer than a TWAIN file name");
        return PageOutcome::NotTaken;
    }
    TW_SETUPFILEXFER setup{};
    strcpy(setup.FileName, path.c_str());
    setup.Format = TWFF_BMP;
    TW_UINT16 result = Call(&Run.source, DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup);
    if (result != TWRC_SUCCESS) {
        Refused("DAT_SETUPFILEXFER", result, &Run.source);
        return PageOutcome::NotTaken;
    }
    result = Call(&Run.source, DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr);
    if (result == TWRC_CANCEL)
        return PageOutcome::Cancelled;
    if (result != TWRC_XFERDONE) {
        Refused("DAT_IMAGEFILEXFER", result, &Run.source);
        return PageOutcome::NotTaken;
    }
    if (!IsBmpFile(path))
        PageError(number, "the source wrote no BMP file " + path);
    return PageOutcome::Done;
}

// Black and white memory strips follow ICAP_PIXELFLAVOR; chocolate (0 is black) unless the
// source says otherwise.
void LearnPixelFlavor()
{
    Run.flavorKnown = true;
    TW_CAPABILITY capability{ICAP_PIXELFLAVOR, TWON_ONEVALUE, nullptr};
    if (Call(&Run.source, DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, &capability) != TWRC_SUCCESS)
        return;
    if (!capability.hContainer)
        return;
    if (capability.ConType == TWON_ONEVALUE && GlobalSize(capability.hContainer) >= sizeof(TW_ONEVALUE)) {
        auto* value = static_cast<TW_ONEVALUE*>(GlobalLock(capability.hContainer));
        Run.vanilla = TW_UINT16(value->Item) == TWPF_VANILLA;
        GlobalUnlock(capability.hContainer);
    }
    GlobalFree(capability.hContainer);
}

PageOutcome MemoryTransfer(int number, const TW_IMAGEINFO& info, const std::string& path)
{
    if (!Run.flavorKnown && info.BitsPerPixel == 1)
        LearnPixelFlavor();
    MemoryPage page;
    std::string error;
    if (!BeginMemoryPage(page, info, Run.vanilla, error)) {
        PageError(number, error);
        return PageOutcome::NotTaken;
    }
    std::vector<uint8_t> buffer(Run.bufferSize);
    // Every strip but the last brings at least one row; more strips than rows is a source
    // that makes no progress.
    for (int strips = 0;; ++strips) {
        if (strips > page.height) {
            PageError(number, "the strips bring no progress");
            return PageOutcome::Broken;
        }
        TW_IMAGEMEMXFER strip;
        memset(&strip, 0xFF, sizeof strip);
        strip.Memory = {TWMF_APPOWNS | TWMF_POINTER, Run.bufferSize, buffer.data()};
        TW_UINT16 result = Call(&Run.source, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &strip);
        if (result == TWRC_CANCEL)
            return PageOutcome::Cancelled;
        if (result != TWRC_SUCCESS && result != TWRC_XFERDONE) {
            Refused("DAT_IMAGEMEMXFER", result, &Run.source);
            return strips == 0 ? PageOutcome::NotTaken : PageOutcome::Broken;
        }
        if (!AddStrip(page, strip, buffer.data(), Run.bufferSize, error)) {
            PageError(number, error);
            return PageOutcome::Broken;
        }
        if (result == TWRC_XFERDONE)
            break;
    }
    if (!WriteMemoryPage(page, int(Fix32Value(info.XResolution) + 0.5), path, error))
        PageError(number, error);
    return PageOutcome::Done;
}

PageOutcome TransferPage(int number, const TW_IMAGEINFO& info, const std::string& path)
{
    switch (Run.options->mechanism) {
    case Mechanism::File:
        return FileTransfer(number, path);
    case Mechanism::Memory:
        return MemoryTransfer(number, info, path);
    default:
        return NativeTransfer(number, path);
    }
}

// Gives up the pages still pending after a failure and leaves the event loop.
void AbortTransfers()
{
    TW_PENDINGXFERS pending{};
    TW_UINT16 result = Call(&Run.source, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
    if (result != TWRC_SUCCESS)
        Refused("MSG_RESET", result, &Run.source);
    Run.transferReady = false;
    Run.done = true;
}

// MSG_ENDXFER: the page is over; count is what the source has left.
bool EndPage(TW_UINT16& count)
{
    TW_PENDINGXFERS pending{};
    TW_UINT16 result = Call(&Run.source, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
    if (result != TWRC_SUCCESS) {
        Refused("MSG_ENDXFER", result, &Run.source);
        Run.done = true;
        return false;
    }
    count = pending.Count;
    Say("pending after the page: %d", int(TW_INT16(count)));
    if (count == 0)
        Run.transferReady = false;
    return true;
}

void PrintPage(int number, const TW_IMAGEINFO& info, const std::string& path)
{
    Say("page %d: %ld x %ld, %d bits per pixel, %.2f x %.2f dpi, %s transfer -> %s", number,
        long(info.ImageWidth), long(info.ImageLength), info.BitsPerPixel,
        Fix32Value(info.XResolution), Fix32Value(info.YResolution),
        MechanismName(Run.options->mechanism), path.c_str());
}

// One transfer per page, then MSG_ENDXFER, until the source has no page left.
void TransferPages()
{
    Run.transferReady = true;
    TW_UINT16 pending = 1;
    while (pending != 0) {
        TW_IMAGEINFO info{};
        TW_UINT16 result = Call(&Run.source, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info);
        if (result != TWRC_SUCCESS) {
            Refused("DAT_IMAGEINFO", result, &Run.source);
            return AbortTransfers();
        }
        int number = ++Run.pagesAttempted;
        std::string path = PagePath(number);
        int failuresBefore = Run.failures;
        PageOutcome outcome = TransferPage(number, info, path);
        if (outcome == PageOutcome::NotTaken)
            return AbortTransfers();
        if (outcome == PageOutcome::Cancelled)
            Say("page %d: cancelled by the source", number);
        if (outcome == PageOutcome::Done && Run.failures == failuresBefore) {
            ++Run.pagesWritten;
            PrintPage(number, info, path);
        }
        if (Run.options->pageDelayMs > 0)
            Sleep(DWORD(Run.options->pageDelayMs));
        if (!EndPage(pending))
            return;
        if (outcome == PageOutcome::Broken) {
            if (pending != 0)
                return AbortTransfers();
            Run.done = true;
            return;
        }
    }
    Say("no page is pending");
}

// --- the event loop -------------------------------------------------------------------------------

void OnSourceMessage(TW_UINT16 message)
{
    switch (message) {
    case MSG_XFERREADY:
        Say("the source has pages ready (MSG_XFERREADY)");
        TransferPages();
        break;
    case MSG_CLOSEDSREQ:
    case MSG_CLOSEDSOK:
        Say("the source asks to be closed (%s)", NotificationName(message));
        Run.done = true;
        break;
    default:
        break;
    }
}

void HandleMessage(MSG& message)
{
    TW_EVENT event{&message, MSG_NULL};
    TW_UINT16 result = Call(&Run.source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
    if (result == TWRC_DSEVENT) {
        OnSourceMessage(event.TWMessage);
        return;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
}

void RunEventLoop()
{
    SetTimer(Run.window, PulseTimer, PulseInterval, nullptr);
    DWORD limit = DWORD(Run.options->timeLimitSeconds) * 1000;
    while (!Run.done) {
        DWORD elapsed = GetTickCount() - Run.start;
        if (elapsed >= limit) {
            Say("error: the time limit of %d s has passed", Run.options->timeLimitSeconds);
            ++Run.failures;
            break;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, limit - elapsed, QS_ALLINPUT);
        MSG message;
        while (!Run.done && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            HandleMessage(message);
    }
    KillTimer(Run.window, PulseTimer);
}

// --- closing --------------------------------------------------------------------------------------

void CloseSession()
{
    if (Run.sourceEnabled && Run.transferReady)
        AbortTransfers();
    if (Run.sourceEnabled) {
        TW_USERINTERFACE userInterface{FALSE, FALSE, Run.window};
        TW_UINT16 result = Call(&Run.source, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &userInterface);
        if (result == TWRC_SUCCESS)
            Say("source disabled");
        else
            Refused("MSG_DISABLEDS", result, &Run.source);
        Run.sourceEnabled = false;
    }
    if (Run.sourceOpen) {
        TW_IDENTITY identity = Run.source;
        TW_UINT16 result = Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &identity);
        if (result == TWRC_SUCCESS)
            Say("source closed");
        else
            Refused("MSG_CLOSEDS", result, &Run.source);
        Run.sourceOpen = false;
    }
    if (Run.managerOpen) {
        TW_UINT16 result = Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &Run.window);
        if (result == TWRC_SUCCESS)
            Say("manager closed");
        else
            Refused("MSG_CLOSEDSM", result, nullptr);
        Run.managerOpen = false;
    }
}

// A call into the source that never returns (a box nobody presses) cannot be interrupted:
// past the time limit and a grace period the process gives up.
DWORD WINAPI Watchdog(LPVOID)
{
    Sleep(DWORD(Run.options->timeLimitSeconds) * 1000 + StuckGrace);
    Say("error: a call into the source has not returned long after the time limit; giving up");
    TerminateProcess(GetCurrentProcess(), 3);
    return 0;
}

bool PrepareOutputFolder()
{
    const std::string& folder = Run.options->outputFolder;
    DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return true;
    if (CreateDirectoryA(folder.c_str(), nullptr))
        return true;
    Say("error: cannot create the output folder %s", folder.c_str());
    ++Run.failures;
    return false;
}

void Acquire()
{
    if (!OpenManager() || !ChooseSource() || Run.options->listOnly || !OpenSource())
        return;
    if (!Negotiate())
        return;
    if (Run.options->mechanism == Mechanism::Memory)
        PrepareMemoryBuffer();
    if (EnableSource())
        RunEventLoop();
}

}  // namespace

int RunAcquisition(const AcquireOptions& options)
{
    Run = Acquisition{};
    Run.options = &options;
    Run.start = GetTickCount();
    CloseHandle(CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr));
    std::string error;
    if (!options.scriptFile.empty() && !LoadWindowScript(options.scriptFile, error)) {
        Say("error: %s", error.c_str());
        return 1;
    }
    if (options.pressBoxes)
        StartBoxPresser();
    if (PrepareOutputFolder() && CreateMainWindow())
        Acquire();
    CloseSession();
    StopWindowScript();
    StopBoxPresser();
    if (!options.listOnly)
        Say("%d page(s) written by %s transfer; %s", Run.pagesWritten, MechanismName(options.mechanism),
            Run.failures ? "the sequence had failures" : "the sequence ran without a failure");
    if (Run.window)
        DestroyWindow(Run.window);
    if (Run.manager)
        FreeLibrary(Run.manager);
    return Run.failures ? 1 : 0;
}
