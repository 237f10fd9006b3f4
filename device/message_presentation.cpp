#include "device/message_presentation.h"

#include <windows.h>

#include "device/config_store.h"
#include "source/page_sequencing.h"
#include "source/source_state.h"

int PendingMessageId = NoPendingMessage;

namespace {

// Which box a pending id shows: its own text, the download failure's text, or none.
int BoxTextId(int id)
{
    switch (id) {
    case 80:
    case 323:
    case 329:
    case 339:
    case 807:
    case 808:
    case 809:
    case 810:
    case 811:
        return id;
    case 333:
    case 334:
    case 335:
    case 336:
    case 337:
    case 338:
        return 339;
    default:
        return NoPendingMessage;
    }
}

void ShowMessageBox(int textId)
{
    char text[MAX_PATH];
    char caption[MAX_PATH];
    LoadResourceString(static_cast<UINT>(textId), text, sizeof text);
    ReadDriverName(caption, sizeof caption);
    MessageBoxA(GetDesktopWindow(), text, caption, MB_OK | MB_ICONERROR | MB_TOPMOST);
}

}  // namespace

void SetPendingMessage(int id) { PendingMessageId = id; }

int PresentPendingMessage()
{
    int id = PendingMessageId;
    PendingMessageId = NoPendingMessage;
    if (id == DeviceSuccessCode)
        return 1;
    if (id == AbortTransferCode) {
        AbortTransfer();
        return 0;
    }
    int textId = BoxTextId(id);
    if (textId != NoPendingMessage)
        ShowMessageBox(textId);
    return 0;
}

int PresentMessage(int id)
{
    SetPendingMessage(id);
    return PresentPendingMessage();
}
