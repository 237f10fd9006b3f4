#include "source/control_operations.h"

#include <cstring>

#include "source/capability_store.h"
#include "source/manager_notifications.h"
#include "source/page_sequencing.h"
#include "source/source_state.h"
#include "source/transfer_state.h"
#include "window/progress_window.h"
#include "window/source_window.h"

char TransferFileName[256];

namespace {

bool InStates(int low, int high) { return SourceState >= low && SourceState <= high; }

// The application's window is disabled while the source window is up; the desktop window
// (which applications pass, or nothing) is never disabled.
void EnableParent(bool enable)
{
    if (ParentWindow && ParentWindow != GetDesktopWindow() && IsWindow(ParentWindow))
        EnableWindow(ParentWindow, enable);
}

TW_UINT16 OpenSource(pTW_IDENTITY origin, TW_IDENTITY* identity)
{
    DeleteFileA("c:\\twsrc.log");
    if (SourceState != StateLoaded)
        return RefuseRequest(TWCC_SEQERROR, "source already open <<MSG_OPENDS>>");
    if (!identity)
        return RefuseRequest(TWCC_BADVALUE, "no identity <<MSG_OPENDS>>");
    memcpy(&AppIdentity, origin, sizeof AppIdentity);
    memcpy(&SourceIdentity, identity, sizeof SourceIdentity);
    SourceState = StateOpen;
    BuildCapabilityTable();
    return TWRC_SUCCESS;
}

// A batch still under way ends with the window that started it: nothing stays pending for the
// next enable, and the next batch's first strip starts at its page's top row.
void EndBatchWithTheWindow()
{
    ClearPagesPending();
    ResetMemoryTransferCounters();
}

// Every enable starts afresh: a close requested in an earlier enable (or an earlier open while the
// module stayed loaded) must not hide this window. Only this enable's own start-up may hide it.
void BeginEnable()
{
    CloseRequested = false;
}

// Takes the source window down and gives the application its window back. A batch still under
// way ends with it: its progress window goes, and the page file open for strips is let go so
// that the work directory can be removed with the window.
void DestroySourceWindow()
{
    StopProgress();
    LetGoOfPage();
    EndBatchWithTheWindow();
    if (SourceWindow) {
        HWND window = SourceWindow;
        SourceWindow = nullptr;
        DestroyWindow(window);
    }
    EnableParent(true);
}

TW_UINT16 CloseSource()
{
    if (!InStates(StateOpen, StateTransferring))
        return RefuseRequest(TWCC_SEQERROR, "source not open <<MSG_CLOSEDS>>");
    // An application that closes without disabling first may have the module unloaded next:
    // no window of ours may outlive its procedure.
    if (SourceWindow)
        DestroySourceWindow();
    AppIdentity.Id = 0;
    SourceState = StateLoaded;
    ClearCapabilityTable();
    return TWRC_SUCCESS;
}

TW_UINT16 EnableSource(TW_USERINTERFACE* userInterface)
{
    if (SourceState != StateOpen)
        return RefuseRequest(TWCC_SEQERROR, "source not open <<MSG_ENABLEDS>>");
    if (!userInterface)
        return RefuseRequest(TWCC_BADVALUE, "no user interface <<MSG_ENABLEDS>>");
    // ShowUI and ModalUI are not looked at: the source always shows its own window.
    // Never two windows: one left from an earlier enable goes first.
    if (SourceWindow)
        DestroySourceWindow();
    BeginEnable();
    ParentWindow = static_cast<HWND>(userInterface->hParent);
    EnableParent(false);
    HWND window = CreateSourceWindow();
    if (!window) {
        EnableParent(true);
        return RefuseRequest(TWCC_LOWMEMORY, "source window not created <<MSG_ENABLEDS>>");
    }
    SourceWindow = window;
    if (!CloseRequested)
        ShowWindow(SourceWindow, SW_SHOW);
    SourceState = StateEnabled;
    return TWRC_SUCCESS;
}

TW_UINT16 DisableSource()
{
    if (!InStates(StateEnabled, StateTransferring))
        return RefuseRequest(TWCC_SEQERROR, "source not enabled <<MSG_DISABLEDS>>");
    SourceState = StateOpen;
    DestroySourceWindow();
    return TWRC_SUCCESS;
}

// What MSG_GET counts: one page per batch while the feeder is off, else whether pages remain.
TW_UINT16 PendingCount()
{
    if (!GetFeederEnabled())
        return SourceState == StateTransferring ? 0 : 1;
    return MorePagesPending() ? 1 : 0;
}

TW_UINT16 EndTransfer(TW_PENDINGXFERS* pending)
{
    TW_UINT16 count = 0;
    if (GetFeederEnabled() && MorePagesPending())
        count = PagesStillToCome();
    pending->Count = count;
    if (count == 0)
        NotifyCloseDsReq();
    TW_UINT16 result;
    if (SourceState == StateOpen || SourceState == StateXferReady ||
        SourceState == StateTransferring) {
        SourceState = StateXferReady;
        result = TWRC_SUCCESS;
    } else {
        result = RefuseRequest(TWCC_SEQERROR, "no transfer to end <<MSG_ENDXFER>>");
    }
    ResetMemoryTransferCounters();
    return result;
}

// Where a file transfer writes before the application names a file: TWAIN's customary default
// name, in the application's current folder.
const char DefaultTransferFileName[] = "TWAIN.TMP";

bool WritableFileFormat(TW_UINT16 format) { return format == TWFF_BMP || format == TWFF_TIFF; }

void AnswerFileSetup(TW_SETUPFILEXFER* setup, const char* name, int format)
{
    memset(setup->FileName, 0, sizeof setup->FileName);
    memcpy(setup->FileName, name, strnlen(name, sizeof setup->FileName - 1));
    setup->Format = static_cast<TW_UINT16>(format);
    setup->VRefNum = 0;
}

// Takes the name (cut to 255 characters) and the format only once both are known to serve: the
// format is one the transfer writes, and the file can be created (an existing file keeps its
// content until the transfer).
TW_UINT16 SetFileTransfer(const TW_SETUPFILEXFER* setup)
{
    if (!WritableFileFormat(setup->Format))
        return RefuseRequest(TWCC_BADVALUE, "file format not written <<DAT_SETUPFILEXFER>>");
    char name[sizeof TransferFileName];
    size_t length = strnlen(setup->FileName, sizeof name - 1);
    memcpy(name, setup->FileName, length);
    name[length] = '\0';
    HANDLE file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return RefuseRequest(TWCC_SEQERROR, "Unable to create file <<DAT_SETUPFILEXFER>>");
    CloseHandle(file);
    memcpy(TransferFileName, name, length + 1);
    SetImageFileFormat(setup->Format);
    return TWRC_SUCCESS;
}

}  // namespace

void ResetControlOperations() { strcpy(TransferFileName, DefaultTransferFileName); }

TW_UINT16 IdentityHandler(pTW_IDENTITY origin, TW_UINT32, TW_UINT16, TW_UINT16 message,
                          TW_MEMREF data)
{
    TW_IDENTITY* identity = static_cast<TW_IDENTITY*>(data);
    switch (message) {
    case MSG_GET:
        if (!identity)
            return RefuseRequest(TWCC_BADVALUE, "no identity <<DAT_IDENTITY>>");
        memcpy(identity, &SourceIdentity, sizeof SourceIdentity);
        return TWRC_SUCCESS;
    case MSG_OPENDS:
        return OpenSource(origin, identity);
    case MSG_CLOSEDS:
        return CloseSource();
    default:
        return RefuseRequest(TWCC_BADPROTOCOL, "unknown message <<DAT_IDENTITY>>");
    }
}

TW_UINT16 UserInterfaceHandler(pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16 message,
                               TW_MEMREF data)
{
    switch (message) {
    case MSG_ENABLEDS:
        return EnableSource(static_cast<TW_USERINTERFACE*>(data));
    case MSG_DISABLEDS:
        return DisableSource();
    default:
        return RefuseRequest(TWCC_BADPROTOCOL, "unknown message <<DAT_USERINTERFACE>>");
    }
}

TW_UINT16 StatusHandler(pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16 message, TW_MEMREF data)
{
    if (message != MSG_GET)
        return RefuseRequest(TWCC_BADPROTOCOL, "unknown message <<DAT_STATUS>>");
    TW_STATUS* status = static_cast<TW_STATUS*>(data);
    if (!status)
        return RefuseRequest(TWCC_BADVALUE, "no status <<DAT_STATUS>>");
    status->ConditionCode = ConditionCode;
    status->Reserved = 0;
    ConditionCode = TWCC_SUCCESS;
    return TWRC_SUCCESS;
}

TW_UINT16 PendingXfersHandler(pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16 message,
                              TW_MEMREF data)
{
    TW_PENDINGXFERS* pending = static_cast<TW_PENDINGXFERS*>(data);
    if (message != MSG_GET && message != MSG_ENDXFER && message != MSG_RESET)
        return RefuseRequest(TWCC_BADPROTOCOL, "unknown message <<DAT_PENDINGXFERS>>");
    if (!pending)
        return RefuseRequest(TWCC_BADVALUE, "no pending transfers <<DAT_PENDINGXFERS>>");
    switch (message) {
    case MSG_GET:
        if (!InStates(StateOpen, StateTransferring))
            return RefuseRequest(TWCC_SEQERROR, "source not open <<DAT_PENDINGXFERS>>");
        pending->Count = PendingCount();
        return TWRC_SUCCESS;
    case MSG_ENDXFER:
        return EndTransfer(pending);
    default:
        if (!InStates(StateXferReady, StateTransferring))
            return RefuseRequest(TWCC_SEQERROR, "no transfer to reset <<MSG_RESET>>");
        AbortTransfer();
        SourceState = StateEnabled;
        pending->Count = 0;
        return TWRC_SUCCESS;
    }
}

TW_UINT16 SetupMemXferHandler(pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16 message,
                              TW_MEMREF data)
{
    if (!InStates(StateOpen, StateXferReady))
        return RefuseRequest(TWCC_SEQERROR, "wrong state <<DAT_SETUPMEMXFER>>");
    if (message != MSG_GET)
        return RefuseRequest(TWCC_BADPROTOCOL, "unknown message <<DAT_SETUPMEMXFER>>");
    TW_SETUPMEMXFER* setup = static_cast<TW_SETUPMEMXFER*>(data);
    if (!setup)
        return RefuseRequest(TWCC_BADVALUE, "no set-up <<DAT_SETUPMEMXFER>>");
    setup->MinBufSize = 16384;
    setup->MaxBufSize = 65535;
    setup->Preferred = 65535;
    return TWRC_SUCCESS;
}

TW_UINT16 SetupFileXferHandler(pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16 message,
                               TW_MEMREF data)
{
    TW_SETUPFILEXFER* setup = static_cast<TW_SETUPFILEXFER*>(data);
    if (!setup)
        return RefuseRequest(TWCC_BADVALUE, "no set-up <<DAT_SETUPFILEXFER>>");
    if (!InStates(StateOpen, StateXferReady))
        return RefuseRequest(TWCC_SEQERROR, "wrong state <<DAT_SETUPFILEXFER>>");
    switch (message) {
    case MSG_GET:
    case MSG_GETCURRENT:
        AnswerFileSetup(setup, TransferFileName, GetImageFileFormat());
        return TWRC_SUCCESS;
    case MSG_GETDEFAULT:
        AnswerFileSetup(setup, DefaultTransferFileName, GetDefaultImageFileFormat());
        return TWRC_SUCCESS;
    case MSG_SET:
        return SetFileTransfer(setup);
    default:
        return RefuseRequest(TWCC_BADPROTOCOL, "unknown message <<DAT_SETUPFILEXFER>>");
    }
}

TW_UINT16 XferGroupHandler(pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16 message, TW_MEMREF data)
{
    if (!InStates(StateOpen, StateXferReady))
        return RefuseRequest(TWCC_SEQERROR, "wrong state <<DAT_XFERGROUP>>");
    TW_UINT32* group = static_cast<TW_UINT32*>(data);
    switch (message) {
    case MSG_GET:
    case MSG_GETCURRENT:
    case MSG_GETDEFAULT:
    case MSG_RESET:
        if (!group)
            return RefuseRequest(TWCC_BADVALUE, "no group <<DAT_XFERGROUP>>");
        *group = DG_IMAGE;
        return TWRC_SUCCESS;
    case MSG_SET:
        return TWRC_SUCCESS;
    default:
        return RefuseRequest(TWCC_BADPROTOCOL, "unknown message <<DAT_XFERGROUP>>");
    }
}
