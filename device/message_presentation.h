// The one channel through which device and image failures reach the user: the code that meets a
// condition stores a string id, the code that decides whether to go on presents it.
#pragma once

// No message pending.
constexpr int NoPendingMessage = -1;
// Success as the device reports it.
constexpr int DeviceSuccessCode = 600;
// Abort the transfer silently.
constexpr int AbortTransferCode = -2;

extern int PendingMessageId;

void SetPendingMessage(int id);
// Shows the pending message when it is one the user must see; returns 1 only for 600.
int PresentPendingMessage();
// Sets the message and presents it at once.
int PresentMessage(int id);
