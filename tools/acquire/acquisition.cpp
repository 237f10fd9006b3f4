#include "tools/acquire/acquisition.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
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
    int cycle;            // the session cycle under way, from 1
    HMODULE keptSource;   // our own reference on the source module (--keep-loaded)
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
    StartWindowScript(Run.cycle - 1, Run.window, ScriptFailedMessage);
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
    const bool tiff = Run.options->mechanism == Mechanism::File && Run.options->fileFormat == TWFF_TIFF;
    char name[32];
    snprintf(name, sizeof name, tiff ? "page%03d.tif" : "page%03d.bmp", number);
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
    setup.Format = Run.options->fileFormat;
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
    if (setup.Format == TWFF_TIFF ? !IsTiffFile(path) : !IsBmpFile(path))
        PageError(number, std::string("the source wrote no ") + (setup.Format == TWFF_TIFF ? "TIFF" : "BMP") +
                              " file " + path);
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

void PrintLayout(const char* label, const TW_IMAGELAYOUT& layout, const char* after)
{
    Say("%s: frame %.4f %.4f %.4f %.4f, document %u, page %u, frame %u%s", label, Fix32Value(layout.Frame.Left),
        Fix32Value(layout.Frame.Top), Fix32Value(layout.Frame.Right), Fix32Value(layout.Frame.Bottom),
        unsigned(layout.DocumentNumber), unsigned(layout.PageNumber), unsigned(layout.FrameNumber), after);
}

bool AskLayout(TW_IMAGELAYOUT& layout)
{
    layout = TW_IMAGELAYOUT{};
    TW_UINT16 result = Call(&Run.source, DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout);
    return result == TWRC_SUCCESS || Refused("DAT_IMAGELAYOUT", result, &Run.source);
}

// The frame the source gives the page about to go out, with the page's resolution (both in
// the current ICAP_UNITS).
void ReportPageLayout(int number, const TW_IMAGEINFO& info)
{
    TW_IMAGELAYOUT layout;
    if (!AskLayout(layout))
        return;
    char label[32], after[96];
    snprintf(label, sizeof label, "page %d layout", number);
    snprintf(after, sizeof after, "; resolution %.4f x %.4f", Fix32Value(info.XResolution),
             Fix32Value(info.YResolution));
    PrintLayout(label, layout, after);
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
        if (Run.options->layout)
            ReportPageLayout(number, info);
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

// Gives up what is still pending and disables the source.
void DisableSource()
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
}

void CloseSource()
{
    if (Run.sourceOpen) {
        TW_IDENTITY identity = Run.source;
        TW_UINT16 result = Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &identity);
        if (result == TWRC_SUCCESS)
            Say("source closed");
        else
            Refused("MSG_CLOSEDS", result, &Run.source);
        Run.sourceOpen = false;
    }
}

void CloseSession()
{
    DisableSource();
    CloseSource();
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

// --- session cycles -------------------------------------------------------------------------------

// The modules of this process that export DS_Entry: the sources loaded now.
std::vector<HMODULE> LoadedSourceModules()
{
    std::vector<HMODULE> modules;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return modules;
    MODULEENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Module32First(snapshot, &entry); more; more = Module32Next(snapshot, &entry))
        if (GetProcAddress(entry.hModule, "DS_Entry"))
            modules.push_back(entry.hModule);
    CloseHandle(snapshot);
    return modules;
}

// Takes a reference of our own on the source module the manager has just loaded for MSG_OPENDS
// (the one that was not loaded before, or else the only one), so that it stays loaded whatever
// the manager does at MSG_CLOSEDS.
bool KeepSourceLoaded(const std::vector<HMODULE>& loadedBefore)
{
    std::vector<HMODULE> now = LoadedSourceModules();
    std::vector<HMODULE> fresh;
    for (HMODULE module : now)
        if (std::find(loadedBefore.begin(), loadedBefore.end(), module) == loadedBefore.end())
            fresh.push_back(module);
    HMODULE source = fresh.size() == 1 ? fresh[0] : now.size() == 1 ? now[0] : nullptr;
    auto entry = source ? GetProcAddress(source, "DS_Entry") : nullptr;
    if (!entry || !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(entry),
                                      &Run.keptSource)) {
        Say("error: cannot tell which loaded module is the source; it is not kept loaded");
        ++Run.failures;
        return false;
    }
    char path[MAX_PATH] = "";
    GetModuleFileNameA(Run.keptSource, path, sizeof path);
    Say("keeping the source module loaded: %s", path);
    return true;
}

SIZE_T WorkingSet()
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) ? counters.WorkingSetSize : 0;
}

int ThreadCount()
{
    int count = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return count;
}

// Folders in the temporary folder: what a source's work folders leave behind there.
int TemporaryFolders()
{
    char folder[MAX_PATH];
    DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0 || length + 2 > sizeof folder)
        return -1;
    strcat(folder, "*");
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(folder, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int count = 0;
    do {
        bool dots = strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0;
        count += (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !dots;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return count;
}

// The handles of this process in the system's handle list: for where GetProcessHandleCount
// answers 0 (Wine does). -1 when the list cannot be had.
long HandlesInSystemList()
{
    struct HandleEntry {
        ULONG process;
        UCHAR type, flags;
        USHORT value;
        PVOID object;
        ULONG access;
    };
    using QueryProc = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    constexpr ULONG SystemHandleInformation = 16;
    constexpr LONG InfoLengthMismatch = LONG(0xC0000004);
    auto query = reinterpret_cast<QueryProc>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        return -1;
    std::vector<unsigned char> buffer(1 << 16);
    LONG status;
    ULONG length = 0;
    while ((status = query(SystemHandleInformation, buffer.data(), ULONG(buffer.size()), &length)) ==
               InfoLengthMismatch &&
           buffer.size() < (64u << 20))
        buffer.resize(buffer.size() * 2);
    if (status != 0 || buffer.size() < sizeof(ULONG_PTR))
        return -1;
    ULONG count = *reinterpret_cast<ULONG*>(buffer.data());
    const auto* entries = reinterpret_cast<const HandleEntry*>(buffer.data() + sizeof(ULONG_PTR));
    if (count > (buffer.size() - sizeof(ULONG_PTR)) / sizeof(HandleEntry))
        return -1;
    long mine = 0;
    for (ULONG i = 0; i < count; ++i)
        mine += entries[i].process == GetCurrentProcessId();
    return mine;
}

long HandleCount()
{
    DWORD handles = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &handles) && handles > 0)
        return long(handles);
    return HandlesInSystemList();
}

void ReportResources()
{
    Say("resources: cycle=%d working_set=%llu handles=%ld threads=%d temp_dirs=%d", Run.cycle,
        static_cast<unsigned long long>(WorkingSet()), HandleCount(), ThreadCount(), TemporaryFolders());
}

// A failure the window script reported after its cycle's event loop had ended still counts.
void CollectScriptFailure()
{
    MSG message;
    while (PeekMessageA(&message, Run.window, ScriptFailedMessage, ScriptFailedMessage, PM_REMOVE))
        OnScriptFailed();
}

bool OpenAndNegotiate()
{
    std::vector<HMODULE> loadedBefore;
    bool keep = Run.options->keepLoaded && !Run.keptSource;
    if (keep)
        loadedBefore = LoadedSourceModules();
    if (!OpenSource())
        return false;
    if (keep && !KeepSourceLoaded(loadedBefore))
        return false;
    if (!Negotiate())
        return false;
    if (Run.options->mechanism == Mechanism::Memory)
        PrepareMemoryBuffer();
    return true;
}

// One cycle: open and negotiate unless the source stayed open, enable, acquire until the source
// asks to be closed, disable, and close unless the next cycle only enables again. False when
// the cycle had a failure: the run stops there.
bool RunCycle()
{
    int cycles = Run.options->cycles;
    bool last = Run.cycle == cycles;
    int failuresBefore = Run.failures;
    int pagesBefore = Run.pagesWritten;
    if (cycles > 1)
        Say("cycle %d of %d", Run.cycle, cycles);
    if (Run.sourceOpen || OpenAndNegotiate()) {
        TW_IMAGELAYOUT layout;
        if (Run.options->layout && AskLayout(layout))
            PrintLayout("layout before enabling", layout, "");
        Run.done = false;
        Run.transferReady = false;
        if (EnableSource())
            RunEventLoop();
    }
    DisableSource();
    StopWindowScript();
    CollectScriptFailure();
    if (!Run.options->reenable || last || Run.failures != failuresBefore)
        CloseSource();
    if (cycles > 1)
        Say("cycle %d: %d page(s)%s", Run.cycle, Run.pagesWritten - pagesBefore,
            Run.failures != failuresBefore ? ", with failures" : "");
    if (Run.options->reportResources && (Run.cycle == 10 || last || Run.failures != failuresBefore))
        ReportResources();
    return Run.failures == failuresBefore;
}

void Acquire()
{
    if (!OpenManager() || !ChooseSource() || Run.options->listOnly)
        return;
    for (Run.cycle = 1; Run.cycle <= Run.options->cycles; ++Run.cycle)
        if (!RunCycle())
            return;
}

}  // namespace

int RunAcquisition(const AcquireOptions& options)
{
    Run = Acquisition{};
    Run.options = &options;
    Run.start = GetTickCount();
    CloseHandle(CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr));
    std::string error;
    if (!LoadWindowScripts(options.scriptFiles, error)) {
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
    // Our reference goes after the manager has let the source go: the module unloads here.
    if (Run.keptSource)
        FreeLibrary(Run.keptSource);
    if (Run.manager)
        FreeLibrary(Run.manager);
    return Run.failures ? 1 : 0;
}
