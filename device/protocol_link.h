// The protocol message library as the storage commands reach it: qrvxpmns.dll loaded from the
// folder of the source's own module (never the application's folder or the search path) and
// resolved by ordinal.
#pragma once

#include "device/protocol_library.h"

struct ProtocolLibrary {
    HMODULE module;
    MsgCreateProc MsgCreate;
    MsgFreeProc MsgFree;
    MsgInitProc MsgInit;
    MsgSetModeProc MsgSetMode;
    MsgBeginElementProc MsgBeginElement;
    MsgEndElementProc MsgEndElement;
    MsgAddTextProc MsgAddText;
    MsgAddIntProc MsgAddInt;
    MsgAddIdProc MsgAddId;
    MsgFirstElementProc MsgFirstElement;
    MsgNextElementProc MsgNextElement;
    ElemGetTagProc ElemGetTag;
    ElemGetTextProc ElemGetText;
    ElemGetIntProc ElemGetInt;
    ElemGetIdProc ElemGetId;
    ConnOpenProc ConnOpen;
    ConnCloseProc ConnClose;
    ConnGetLastErrorProc ConnGetLastError;
    ConnDownloadFileProc ConnDownloadFile;
    ConnSendMessageProc ConnSendMessage;
    ConnSetWaitWindowProc ConnSetWaitWindow;
    ConnSetTimeoutsProc ConnSetTimeouts;
};

constexpr char ProtocolLibraryName[] = "qrvxpmns.dll";

// 1 when the library was loaded and every ordinal resolved; else 0 and the record is empty.
int LoadProtocolLibrary(ProtocolLibrary& library);
// The same from a full path.
int LoadProtocolLibraryFrom(const char* path, ProtocolLibrary& library);
void FreeProtocolLibrary(ProtocolLibrary& library);
