// The sources' notifications (MSG_XFERREADY, MSG_CLOSEDSREQ) on their way to the application:
// queued here, announced by a message posted to the application's window, and handed over
// through the application's next MSG_PROCESSEVENT for that source.
#pragma once

#include "tools/twain_manager/manager_state.h"

void InitNotifications();
void EndNotifications();

// A source's DG_CONTROL/DAT_NULL call. Safe from any thread.
TW_UINT16 QueueNotification(const TW_IDENTITY& origin, const TW_IDENTITY* destination,
                            TW_UINT16 message);

// MSG_PROCESSEVENT for an open source: the event goes to the source first; when it is the
// manager's own wake-up message, the source's oldest notification is answered in TWMessage.
TW_UINT16 ProcessEvent(OpenSource& source, pTW_IDENTITY origin, TW_EVENT* event);

// Forgets what a source (or, for Id 0, every source) still had queued.
void DropNotifications(TW_UINT32 sourceId);
