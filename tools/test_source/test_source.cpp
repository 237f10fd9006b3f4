// A scripted data source used only by the tools' tests: it records every triplet it receives
// and, as its script says, offers pages of known pixels by native, file and memory transfer
// and sends the manager its notifications.
#include "tools/test_source/test_source.h"

#include <cstdio>
#include <cstring>

#include "tools/test_source/page_images.h"
#include "tools/test_source/source_log.h"
#include "tools/test_source/source_script.h"
#include "tools/test_source/source_window.h"
#include "source/manager_notifications.h"

extern "C" __declspec(dllimport) const char* TestSourceFamily();

TestSourceState Source;

namespace {

TW_UINT16 Refuse(TW_UINT16 code)
{
    Source.condition = code;
    LogLine("refused %u", code);
    return TWRC_FAILURE;
}

bool InState(int low, int high)
{
    return Source.state >= low && Source.state <= high;
}

void Notify(TW_UINT16 message)
{
    HMODULE manager = LoadLibraryA(ManagerLibraryName);
    if (!manager) {
        LogLine("notify %04X: no manager", message);
        return;
    }
    auto entry = reinterpret_cast<DSMENTRYPROC>(GetProcAddress(manager, "DSM_Entry"));
    TW_UINT16 result = TWRC_FAILURE;
    if (entry)
        result = entry(&Source.identity, &Source.app, DG_CONTROL, DAT_NULL, message, nullptr);
    FreeLibrary(manager);
    LogLine("notify %04X result %u", message, result);
}

const PageSpec& CurrentPage()
{
    return Script.pages[Source.page];
}

// --- DG_CONTROL -------------------------------------------------------------------------------

TW_UINT16 OpenSource(pTW_IDENTITY origin, TW_IDENTITY* identity)
{
    if (Source.state != 3)
        return Refuse(TWCC_SEQERROR);
    Source.app = *origin;
    Source.identity = *identity;
    Source.state = 4;
    Source.page = 0;
    Source.rowsSent = 0;
    Source.mechanism = TWSX_NATIVE;
    LogLine("opened by %u \"%.34s\" as %u", origin->Id, origin->ProductName, identity->Id);
    return TWRC_SUCCESS;
}

TW_UINT16 IdentityOperation(pTW_IDENTITY origin, TW_UINT16 message, TW_MEMREF data)
{
    TW_IDENTITY* identity = static_cast<TW_IDENTITY*>(data);
    if (!identity)
        return Refuse(TWCC_BADVALUE);
    switch (message) {
    case MSG_GET:
        *identity = Source.identity;
        return TWRC_SUCCESS;
    case MSG_OPENDS:
        return OpenSource(origin, identity);
    case MSG_CLOSEDS:
        if (!InState(4, 7))
            return Refuse(TWCC_SEQERROR);
        Source.state = 3;
        Source.app.Id = 0;
        return TWRC_SUCCESS;
    default:
        return Refuse(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 Enable(TW_USERINTERFACE* userInterface)
{
    if (Source.state != 4)
        return Refuse(TWCC_SEQERROR);
    LogLine("enable showui %u", userInterface->ShowUI);
    if (Script.boxText[0]) {
        int answer = MessageBoxA(static_cast<HWND>(userInterface->hParent), Script.boxText,
                                 Script.productName, MB_OK);
        LogLine("box answered %d", answer);
    }
    Source.state = 5;
    if (Script.window)
        Source.window = CreateTestWindow(Source.module);
    if (Script.atEnable == EnableAction::XferReady || Script.atEnable == EnableAction::Both)
        SendXferReady(0);
    if (Script.atEnable == EnableAction::CloseReq || Script.atEnable == EnableAction::Both)
        SendCloseRequest();
    return TWRC_SUCCESS;
}

TW_UINT16 UserInterfaceOperation(TW_UINT16 message, TW_MEMREF data)
{
    if (!data)
        return Refuse(TWCC_BADVALUE);
    switch (message) {
    case MSG_ENABLEDS:
        return Enable(static_cast<TW_USERINTERFACE*>(data));
    case MSG_DISABLEDS:
        if (Source.state != 5)
            return Refuse(TWCC_SEQERROR);
        if (Source.window)
            DestroyWindow(Source.window);
        Source.window = nullptr;
        Source.state = 4;
        return TWRC_SUCCESS;
    default:
        return Refuse(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 StatusOperation(TW_UINT16 message, TW_MEMREF data)
{
    TW_STATUS* status = static_cast<TW_STATUS*>(data);
    if (message != MSG_GET || !status)
        return Refuse(TWCC_BADPROTOCOL);
    status->ConditionCode = Source.condition;
    status->Reserved = 0;
    Source.condition = TWCC_SUCCESS;
    return TWRC_SUCCESS;
}

TW_UINT16 EndTransfer(TW_PENDINGXFERS* pending)
{
    if (!InState(6, 7))
        return Refuse(TWCC_SEQERROR);
    ++Source.page;
    Source.rowsSent = 0;
    int left = Script.pageCount - Source.page;
    pending->Count = TW_UINT16(left > 0 ? left : 0);
    if (pending->Count > 0) {
        Source.state = 6;
        return TWRC_SUCCESS;
    }
    Source.state = 5;
    if (Script.closeAfterLastPage)
        SendCloseRequest();
    return TWRC_SUCCESS;
}

TW_UINT16 PendingXfersOperation(TW_UINT16 message, TW_MEMREF data)
{
    TW_PENDINGXFERS* pending = static_cast<TW_PENDINGXFERS*>(data);
    if (!pending)
        return Refuse(TWCC_BADVALUE);
    switch (message) {
    case MSG_GET:
        if (!InState(4, 7))
            return Refuse(TWCC_SEQERROR);
        pending->Count = TW_UINT16(Source.state >= 6 ? Script.pageCount - Source.page : 0);
        return TWRC_SUCCESS;
    case MSG_ENDXFER:
        return EndTransfer(pending);
    case MSG_RESET:
        if (Source.state != 6)
            return Refuse(TWCC_SEQERROR);
        pending->Count = 0;
        Source.page = Script.pageCount;
        Source.state = 5;
        if (Script.closeAfterLastPage)
            SendCloseRequest();
        return TWRC_SUCCESS;
    default:
        return Refuse(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 SetupMemXferOperation(TW_UINT16 message, TW_MEMREF data)
{
    TW_SETUPMEMXFER* setup = static_cast<TW_SETUPMEMXFER*>(data);
    if (message != MSG_GET || !setup)
        return Refuse(TWCC_BADPROTOCOL);
    if (!InState(4, 6))
        return Refuse(TWCC_SEQERROR);
    setup->MinBufSize = 64;
    setup->MaxBufSize = 1 << 20;
    setup->Preferred = Script.preferredBuffer;
    return TWRC_SUCCESS;
}

TW_UINT16 SetupFileXferOperation(TW_UINT16 message, TW_MEMREF data)
{
    TW_SETUPFILEXFER* setup = static_cast<TW_SETUPFILEXFER*>(data);
    if (!setup)
        return Refuse(TWCC_BADVALUE);
    if (!InState(4, 6))
        return Refuse(TWCC_SEQERROR);
    switch (message) {
    case MSG_GET:
    case MSG_GETCURRENT:
    case MSG_GETDEFAULT:
        memcpy(setup->FileName, Source.fileName, sizeof setup->FileName);
        setup->Format = Source.fileFormat;
        setup->VRefNum = 0;
        return TWRC_SUCCESS;
    case MSG_SET:
        if (setup->Format != TWFF_BMP)
            return Refuse(TWCC_BADVALUE);
        memcpy(Source.fileName, setup->FileName, sizeof Source.fileName);
        Source.fileName[sizeof Source.fileName - 1] = 0;
        Source.fileFormat = setup->Format;
        LogLine("file %s", Source.fileName);
        return TWRC_SUCCESS;
    default:
        return Refuse(TWCC_BADPROTOCOL);
    }
}

// Capabilities: any one value may be set and is recorded; ICAP_XFERMECH chooses the transfer;
// ICAP_XFERMECH and ICAP_PIXELFLAVOR can be read.
TW_UINT16 SetCapability(const TW_CAPABILITY& capability)
{
    if (Source.state != 4)
        return Refuse(TWCC_SEQERROR);
    if (capability.ConType != TWON_ONEVALUE || !capability.hContainer ||
        GlobalSize(capability.hContainer) < sizeof(TW_ONEVALUE))
        return Refuse(TWCC_BADVALUE);
    auto* value = static_cast<TW_ONEVALUE*>(GlobalLock(capability.hContainer));
    TW_UINT16 type = value->ItemType;
    TW_UINT32 item = value->Item;
    GlobalUnlock(capability.hContainer);
    LogLine("cap %04X set %u type %u", capability.Cap, item, type);
    if (capability.Cap == ICAP_XFERMECH) {
        if (item > TWSX_MEMORY)
            return Refuse(TWCC_BADVALUE);
        Source.mechanism = TW_UINT16(item);
    }
    return TWRC_SUCCESS;
}

TW_UINT16 GetCapability(TW_CAPABILITY& capability)
{
    TW_UINT32 item;
    if (capability.Cap == ICAP_XFERMECH)
        item = Source.mechanism;
    else if (capability.Cap == ICAP_PIXELFLAVOR)
        item = TWPF_CHOCOLATE;
    else
        return Refuse(TWCC_CAPUNSUPPORTED);
    HGLOBAL container = GlobalAlloc(GMEM_MOVEABLE, sizeof(TW_ONEVALUE));
    if (!container)
        return Refuse(TWCC_LOWMEMORY);
    auto* value = static_cast<TW_ONEVALUE*>(GlobalLock(container));
    value->ItemType = TWTY_UINT16;
    value->Item = item;
    GlobalUnlock(container);
    capability.ConType = TWON_ONEVALUE;
    capability.hContainer = container;
    return TWRC_SUCCESS;
}

TW_UINT16 CapabilityOperation(TW_UINT16 message, TW_MEMREF data)
{
    TW_CAPABILITY* capability = static_cast<TW_CAPABILITY*>(data);
    if (!capability)
        return Refuse(TWCC_BADVALUE);
    switch (message) {
    case MSG_SET:
        return SetCapability(*capability);
    case MSG_GET:
    case MSG_GETCURRENT:
    case MSG_GETDEFAULT:
        return GetCapability(*capability);
    default:
        return Refuse(TWCC_CAPBADOPERATION);
    }
}

TW_UINT16 ControlOperation(pTW_IDENTITY origin, TW_UINT16 argumentType, TW_UINT16 message,
                           TW_MEMREF data)
{
    switch (argumentType) {
    case DAT_IDENTITY:
        return IdentityOperation(origin, message, data);
    case DAT_USERINTERFACE:
        return UserInterfaceOperation(message, data);
    case DAT_STATUS:
        return StatusOperation(message, data);
    case DAT_PENDINGXFERS:
        return PendingXfersOperation(message, data);
    case DAT_SETUPMEMXFER:
        return SetupMemXferOperation(message, data);
    case DAT_SETUPFILEXFER:
        return SetupFileXferOperation(message, data);
    case DAT_CAPABILITY:
        return CapabilityOperation(message, data);
    case DAT_XFERGROUP:
        if (!data || message != MSG_GET)
            return Refuse(TWCC_BADPROTOCOL);
        *static_cast<TW_UINT32*>(data) = DG_IMAGE;
        return TWRC_SUCCESS;
    default:
        return Refuse(TWCC_BADPROTOCOL);
    }
}

// --- DG_IMAGE ---------------------------------------------------------------------------------

TW_UINT16 ImageInfo(TW_IMAGEINFO* info)
{
    if (Source.state != 6)
        return Refuse(TWCC_SEQERROR);
    const PageSpec& page = CurrentPage();
    *info = TW_IMAGEINFO{};
    info->XResolution.Whole = TW_INT16(Script.resolution);
    info->YResolution.Whole = TW_INT16(Script.resolution);
    info->ImageWidth = page.width;
    info->ImageLength = page.height;
    info->SamplesPerPixel = TW_INT16(page.bits == 24 ? 3 : 1);
    for (int i = 0; i < info->SamplesPerPixel; ++i)
        info->BitsPerSample[i] = TW_INT16(page.bits == 24 ? 8 : page.bits);
    info->BitsPerPixel = TW_INT16(page.bits);
    info->PixelType = TW_INT16(page.bits == 1 ? TWPT_BW : page.bits == 8 ? TWPT_GRAY : TWPT_RGB);
    info->Compression = TWCP_NONE;
    return TWRC_SUCCESS;
}

TW_UINT16 NativeTransfer(TW_MEMREF data)
{
    if (Source.state != 6 || Source.mechanism != TWSX_NATIVE)
        return Refuse(TWCC_SEQERROR);
    HGLOBAL dib = BuildDib(CurrentPage(), Source.page, Script.resolution);
    if (!dib)
        return Refuse(TWCC_LOWMEMORY);
    if (Script.corrupt) {
        SIZE_T cut = sizeof(BITMAPINFOHEADER) + (CurrentPage().bits == 24 ? 0 : (1 << CurrentPage().bits) * 4);
        HGLOBAL shorter = GlobalReAlloc(dib, cut, GMEM_MOVEABLE);
        if (shorter)
            dib = shorter;
    }
    *static_cast<TW_HANDLE*>(data) = dib;
    Source.state = 7;
    LogLine("native page %d", Source.page);
    return TWRC_XFERDONE;
}

TW_UINT16 FileTransfer()
{
    if (Source.state != 6 || Source.mechanism != TWSX_FILE)
        return Refuse(TWCC_SEQERROR);
    if (!WriteBmpFile(Source.fileName, CurrentPage(), Source.page, Script.resolution))
        return Refuse(TWCC_OPERATIONERROR);
    Source.state = 7;
    LogLine("file page %d", Source.page);
    return TWRC_XFERDONE;
}

TW_UINT16 MemoryTransfer(TW_IMAGEMEMXFER* xfer)
{
    if (!InState(6, 7) || Source.mechanism != TWSX_MEMORY)
        return Refuse(TWCC_SEQERROR);
    const PageSpec& page = CurrentPage();
    uint32_t rowBytes = PackedRowBytes(page);
    uint32_t rows = xfer->Memory.Length / rowBytes;
    uint32_t left = uint32_t(page.height) - Source.rowsSent;
    if (rows > left)
        rows = left;
    if (rows == 0 || !xfer->Memory.TheMem)
        return Refuse(TWCC_BADVALUE);
    bool handle = (xfer->Memory.Flags & TWMF_HANDLE) != 0;
    uint8_t* buffer = static_cast<uint8_t*>(handle ? GlobalLock(xfer->Memory.TheMem) : xfer->Memory.TheMem);
    if (!buffer)
        return Refuse(TWCC_BADVALUE);
    for (uint32_t r = 0; r < rows; ++r)
        PackRow(page, Source.page, int(Source.rowsSent + r), buffer + size_t(r) * rowBytes);
    if (handle)
        GlobalUnlock(xfer->Memory.TheMem);
    xfer->Compression = TWCP_NONE;
    xfer->BytesPerRow = rowBytes;
    xfer->Columns = uint32_t(page.width);
    xfer->Rows = Script.corrupt ? rows + uint32_t(page.height) : rows;
    xfer->XOffset = 0;
    xfer->YOffset = Source.rowsSent;
    xfer->BytesWritten = rows * rowBytes;
    Source.rowsSent += rows;
    Source.state = 7;
    LogLine("memory page %d rows %u", Source.page, rows);
    return Source.rowsSent == uint32_t(page.height) ? TWRC_XFERDONE : TWRC_SUCCESS;
}

TW_UINT16 ImageOperation(TW_UINT16 argumentType, TW_UINT16 message, TW_MEMREF data)
{
    if (message != MSG_GET)
        return Refuse(TWCC_BADPROTOCOL);
    // A file transfer carries no data; every other one needs its structure.
    if (!data && argumentType != DAT_IMAGEFILEXFER)
        return Refuse(TWCC_BADVALUE);
    switch (argumentType) {
    case DAT_IMAGEINFO:
        return ImageInfo(static_cast<TW_IMAGEINFO*>(data));
    case DAT_IMAGENATIVEXFER:
        return NativeTransfer(data);
    case DAT_IMAGEFILEXFER:
        return FileTransfer();
    case DAT_IMAGEMEMXFER:
        return MemoryTransfer(static_cast<TW_IMAGEMEMXFER*>(data));
    default:
        return Refuse(TWCC_BADPROTOCOL);
    }
}

// --- entry --------------------------------------------------------------------------------------

TW_UINT16 ProcessEvent(TW_MEMREF data)
{
    TW_EVENT* event = static_cast<TW_EVENT*>(data);
    if (!event || !event->pEvent)
        return TWRC_NOTDSEVENT;
    MSG* message = static_cast<MSG*>(event->pEvent);
    if (Script.consumedMessage && message->message == Script.consumedMessage) {
        LogLine("consumed %04X", message->message);
        event->TWMessage = MSG_NULL;
        return TWRC_DSEVENT;
    }
    if (Source.window && IsDialogMessageA(Source.window, message)) {
        event->TWMessage = MSG_NULL;
        return TWRC_DSEVENT;
    }
    return TWRC_NOTDSEVENT;
}

bool ScriptedRefusal(TW_UINT16 argumentType, TW_UINT16 message, TW_UINT16& code)
{
    for (int i = 0; i < Script.refusalCount; ++i)
        if (Script.refusals[i].argumentType == argumentType && Script.refusals[i].message == message) {
            code = Script.refusals[i].code;
            return true;
        }
    return false;
}

TW_UINT16 Entry(pTW_IDENTITY origin, TW_UINT32 group, TW_UINT16 argumentType, TW_UINT16 message,
                TW_MEMREF data)
{
    if (message == MSG_PROCESSEVENT)
        return ProcessEvent(data);
    LogLine("call %04X %04X %04X from %u", unsigned(group), argumentType, message,
            origin ? unsigned(origin->Id) : 0u);
    if (!origin || (Source.app.Id != 0 && origin->Id != Source.app.Id))
        return Refuse(TWCC_BADPROTOCOL);
    TW_UINT16 code;
    if (ScriptedRefusal(argumentType, message, code))
        return Refuse(code);
    if (group == DG_CONTROL)
        return ControlOperation(origin, argumentType, message, data);
    if (group == DG_IMAGE)
        return ImageOperation(argumentType, message, data);
    return Refuse(TWCC_BADPROTOCOL);
}

void FillIdentity()
{
    TW_IDENTITY& identity = Source.identity;
    identity = TW_IDENTITY{};
    identity.Version.MajorNum = 1;
    identity.Version.MinorNum = 0;
    identity.Version.Language = TWLG_ENGLISH;
    identity.Version.Country = TWCY_USA;
    strcpy(identity.Version.Info, "Test source 1.0");
    identity.ProtocolMajor = 1;
    identity.ProtocolMinor = 9;
    identity.SupportedGroups = DG_CONTROL | DG_IMAGE;
    strcpy(identity.Manufacturer, "QRV Project");
    snprintf(identity.ProductFamily, sizeof identity.ProductFamily, "%s", TestSourceFamily());
    memcpy(identity.ProductName, Script.productName, sizeof identity.ProductName);
}

bool Attach(HMODULE module)
{
    Source = TestSourceState{};
    Source.module = module;
    Source.state = 3;
    Source.fileFormat = TWFF_BMP;
    strcpy(Source.fileName, "TWAIN.TMP");
    char folder[MAX_PATH];
    DWORD length = GetModuleFileNameA(module, folder, sizeof folder);
    if (length == 0 || length >= sizeof folder)
        return false;
    *strrchr(folder, '\\') = 0;
    strcat(folder, "\\");
    SetLogFolder(folder);
    char script[MAX_PATH + 32];
    snprintf(script, sizeof script, "%stest_source.txt", folder);
    ReadSourceScript(script);
    FillIdentity();
    RegisterTestWindowClass(module);
    LogLine("loaded \"%s\"", Script.productName);
    return true;
}

}  // namespace

void SendXferReady(int firstPage)
{
    Source.page = firstPage < Script.pageCount ? firstPage : 0;
    Source.rowsSent = 0;
    Source.state = 6;
    Notify(MSG_XFERREADY);
}

void SendCloseRequest()
{
    Notify(MSG_CLOSEDSREQ);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        return Attach(instance);
    case DLL_PROCESS_DETACH:
        LogLine("unloaded");
        UnregisterTestWindowClass(instance);
        return TRUE;
    default:
        return TRUE;
    }
}

extern "C" __declspec(dllexport) TW_UINT16 TW_CALLINGSTYLE DS_Entry(pTW_IDENTITY origin,
                                                                    TW_UINT32 group,
                                                                    TW_UINT16 argumentType,
                                                                    TW_UINT16 message,
                                                                    TW_MEMREF data)
{
    return Entry(origin, group, argumentType, message, data);
}
