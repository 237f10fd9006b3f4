#include "tools/twain_manager/notification_queue.h"

namespace {

struct Notification {
    TW_UINT32 sourceId;
    TW_UINT16 message;
};

constexpr int MaxNotifications = 64;
constexpr const char* WakeMessageName = "QrvTwainManagerNotification";

CRITICAL_SECTION QueueLock;
Notification Queue[MaxNotifications];
int QueueLength;
UINT WakeMessage;

bool IsNotification(TW_UINT16 message)
{
    return message == MSG_XFERREADY || message == MSG_CLOSEDSREQ || message == MSG_CLOSEDSOK;
}

void PostWake(TW_UINT32 sourceId)
{
    if (Session.window)
        PostMessageA(Session.window, WakeMessage, sourceId, 0);
    else
        PostThreadMessageA(Session.thread, WakeMessage, sourceId, 0);
}

bool TakeNotification(TW_UINT32 sourceId, TW_UINT16& message)
{
    EnterCriticalSection(&QueueLock);
    bool found = false;
    for (int i = 0; i < QueueLength; ++i) {
        if (Queue[i].sourceId != sourceId)
            continue;
        message = Queue[i].message;
        for (int j = i + 1; j < QueueLength; ++j)
            Queue[j - 1] = Queue[j];
        --QueueLength;
        found = true;
        break;
    }
    LeaveCriticalSection(&QueueLock);
    return found;
}

bool HasNotification(TW_UINT32 sourceId)
{
    EnterCriticalSection(&QueueLock);
    bool found = false;
    for (int i = 0; i < QueueLength && !found; ++i)
        found = Queue[i].sourceId == sourceId;
    LeaveCriticalSection(&QueueLock);
    return found;
}

// A wake-up message that a modal loop dispatched straight to the window never reaches
// MSG_PROCESSEVENT; whenever a source still has notifications and no wake-up message waits in
// the application's queue, another is posted. Called on the application's thread.
void WakeAgainIfLost(TW_UINT32 sourceId)
{
    if (!HasNotification(sourceId))
        return;
    MSG waiting;
    if (!PeekMessageA(&waiting, nullptr, WakeMessage, WakeMessage, PM_NOREMOVE))
        PostWake(sourceId);
}

}  // namespace

void InitNotifications()
{
    InitializeCriticalSection(&QueueLock);
    WakeMessage = RegisterWindowMessageA(WakeMessageName);
    QueueLength = 0;
}

void EndNotifications()
{
    DeleteCriticalSection(&QueueLock);
}

TW_UINT16 QueueNotification(const TW_IDENTITY& origin, const TW_IDENTITY* destination,
                            TW_UINT16 message)
{
    if (!IsNotification(message))
        return TWRC_FAILURE;
    if (!Session.open || !destination || destination->Id != Session.app.Id)
        return TWRC_FAILURE;
    EnterCriticalSection(&QueueLock);
    bool queued = QueueLength < MaxNotifications;
    if (queued)
        Queue[QueueLength++] = {origin.Id, message};
    LeaveCriticalSection(&QueueLock);
    if (!queued)
        return TWRC_FAILURE;
    PostWake(origin.Id);
    return TWRC_SUCCESS;
}

TW_UINT16 ProcessEvent(OpenSource& source, pTW_IDENTITY origin, TW_EVENT* event)
{
    TW_UINT16 result = source.entry(origin, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, event);
    const MSG* message = event ? static_cast<const MSG*>(event->pEvent) : nullptr;
    if (message && message->message == WakeMessage) {
        TW_UINT16 notification;
        if (TakeNotification(source.identity.Id, notification)) {
            event->TWMessage = notification;
            result = TWRC_DSEVENT;
        }
    }
    WakeAgainIfLost(source.identity.Id);
    return result;
}

void DropNotifications(TW_UINT32 sourceId)
{
    EnterCriticalSection(&QueueLock);
    int kept = 0;
    for (int i = 0; i < QueueLength; ++i)
        if (sourceId != 0 && Queue[i].sourceId != sourceId)
            Queue[kept++] = Queue[i];
    QueueLength = kept;
    LeaveCriticalSection(&QueueLock);
}
