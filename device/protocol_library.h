// The interface of qrvxpmns.dll, the protocol message library: its ordinals and the types of the
// functions behind them. The library implements them; the storage commands import them by
// ordinal. Handles are opaque 32-bit numbers, 0 is never valid; texts are ANSI.
#pragma once

#include <windows.h>

#include <cstdint>

typedef DWORD ProtocolHandle;

enum ProtocolOrdinal : WORD {
    OrdinalMsgCreate = 101,
    OrdinalMsgFree = 102,
    OrdinalMsgInit = 103,
    OrdinalMsgSetMode = 111,
    OrdinalMsgBeginElement = 116,
    OrdinalMsgEndElement = 117,
    OrdinalMsgAddText = 118,
    OrdinalMsgAddInt = 119,
    OrdinalMsgAddId = 120,
    OrdinalMsgFirstElement = 121,
    OrdinalMsgNextElement = 122,
    OrdinalElemGetTag = 126,
    OrdinalElemGetText = 128,
    OrdinalElemGetInt = 130,
    OrdinalElemGetId = 132,
    OrdinalConnOpen = 201,
    OrdinalConnClose = 202,
    OrdinalConnGetLastError = 203,
    OrdinalConnDownloadFile = 205,
    OrdinalConnSendMessage = 206,
    OrdinalConnSetWaitWindow = 217,
    OrdinalConnSetTimeouts = 218,
};

// Values with a meaning of their own (docs/device_protocol.md).
constexpr int MessageModeXmlRequest = 1;
constexpr int AnyTag = -1;
constexpr DWORD ErrorCancelled = 12017;       // ERROR_INTERNET_OPERATION_CANCELLED
constexpr DWORD ErrorTimedOut = 12002;        // ERROR_INTERNET_TIMEOUT
constexpr DWORD ErrorRefusedAddress = 12005;  // ERROR_INTERNET_INVALID_URL
constexpr DWORD ErrorBadAnswer = 12152;       // ERROR_HTTP_INVALID_SERVER_RESPONSE

typedef ProtocolHandle(WINAPI* MsgCreateProc)(const char* const* tagTable);
typedef void(WINAPI* MsgFreeProc)(ProtocolHandle message);
typedef int(WINAPI* MsgInitProc)(ProtocolHandle message);
typedef int(WINAPI* MsgSetModeProc)(ProtocolHandle message, int mode);
typedef int(WINAPI* MsgBeginElementProc)(ProtocolHandle message, int tag);
typedef int(WINAPI* MsgEndElementProc)(ProtocolHandle message);
typedef int(WINAPI* MsgAddTextProc)(ProtocolHandle message, int tag, const char* text);
typedef int(WINAPI* MsgAddIntProc)(ProtocolHandle message, int tag, int32_t value);
typedef int(WINAPI* MsgAddIdProc)(ProtocolHandle message, int tag, uint32_t value, int digits);
typedef ProtocolHandle(WINAPI* MsgFirstElementProc)(ProtocolHandle message, int tagFilter);
typedef ProtocolHandle(WINAPI* MsgNextElementProc)(ProtocolHandle message, int tagFilter);
typedef int(WINAPI* ElemGetTagProc)(ProtocolHandle element);
typedef const char*(WINAPI* ElemGetTextProc)(ProtocolHandle element);
typedef int(WINAPI* ElemGetIntProc)(ProtocolHandle element, int32_t* value);
typedef int(WINAPI* ElemGetIdProc)(ProtocolHandle element, uint32_t* value);
typedef ProtocolHandle(WINAPI* ConnOpenProc)(const char* address);
typedef void(WINAPI* ConnCloseProc)(ProtocolHandle connection);
typedef DWORD(WINAPI* ConnGetLastErrorProc)(ProtocolHandle connection);
typedef int(WINAPI* ConnDownloadFileProc)(ProtocolHandle connection, int port, const char* devicePath, int flags,
                                          const char* localPath, DWORD sizeLimit);
typedef int(WINAPI* ConnSendMessageProc)(ProtocolHandle connection, int port, const char* path,
                                         ProtocolHandle message);
typedef int(WINAPI* ConnSetWaitWindowProc)(ProtocolHandle connection, int delay, const char* caption,
                                           const char* text, const char* buttonLabel);
typedef int(WINAPI* ConnSetTimeoutsProc)(ProtocolHandle connection, DWORD connect, DWORD send, DWORD receive,
                                         DWORD total);
