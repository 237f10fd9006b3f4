// The link on Windows: the source's own protocol library, qrvxpmns.dll, loaded from the tool's
// folder (never from the search path) and called by ordinal, as the storage commands call it. Its
// time-outs, bounds and answer rules are the source's by construction. No wait window is asked
// for; an interrupt reaches a request in progress as the WM_QUIT the library treats as a cancel.
// Texts cross the library in the ANSI code page: fields are cut there, as the source cuts them,
// and then turned into UTF-8.
#include <windows.h>

#include <cstring>
#include <string>
#include <string_view>

#include "device/protocol_library.h"
#include "tools/qrvbox/device_link.h"

namespace {

struct Library {
    HMODULE module = nullptr;
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
    ConnOpenProc ConnOpen;
    ConnCloseProc ConnClose;
    ConnGetLastErrorProc ConnGetLastError;
    ConnDownloadFileProc ConnDownloadFile;
    ConnSendMessageProc ConnSendMessage;
    ConnSetTimeoutsProc ConnSetTimeouts;
};

template <typename Proc>
bool Resolve(HMODULE module, WORD ordinal, Proc& proc) {
    proc = reinterpret_cast<Proc>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal)));
    return proc != nullptr;
}

// Loaded at the first request and kept for the process's life.
Library* TheLibrary() {
    static Library library;
    static bool tried = false;
    if (tried) return library.module ? &library : nullptr;
    tried = true;
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    wchar_t* name = length && length < MAX_PATH ? wcsrchr(path, L'\\') : nullptr;
    if (!name || (name - path) + 14 >= MAX_PATH) return nullptr;
    wcscpy(name + 1, L"qrvxpmns.dll");
    library.module = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!library.module) return nullptr;
    HMODULE m = library.module;
    Library& l = library;
    const bool all =
        Resolve(m, OrdinalMsgCreate, l.MsgCreate) && Resolve(m, OrdinalMsgFree, l.MsgFree) &&
        Resolve(m, OrdinalMsgInit, l.MsgInit) && Resolve(m, OrdinalMsgSetMode, l.MsgSetMode) &&
        Resolve(m, OrdinalMsgBeginElement, l.MsgBeginElement) && Resolve(m, OrdinalMsgEndElement, l.MsgEndElement) &&
        Resolve(m, OrdinalMsgAddText, l.MsgAddText) && Resolve(m, OrdinalMsgAddInt, l.MsgAddInt) &&
        Resolve(m, OrdinalMsgAddId, l.MsgAddId) && Resolve(m, OrdinalMsgFirstElement, l.MsgFirstElement) &&
        Resolve(m, OrdinalMsgNextElement, l.MsgNextElement) && Resolve(m, OrdinalElemGetTag, l.ElemGetTag) &&
        Resolve(m, OrdinalElemGetText, l.ElemGetText) && Resolve(m, OrdinalConnOpen, l.ConnOpen) &&
        Resolve(m, OrdinalConnClose, l.ConnClose) && Resolve(m, OrdinalConnGetLastError, l.ConnGetLastError) &&
        Resolve(m, OrdinalConnDownloadFile, l.ConnDownloadFile) &&
        Resolve(m, OrdinalConnSendMessage, l.ConnSendMessage) && Resolve(m, OrdinalConnSetTimeouts, l.ConnSetTimeouts);
    if (!all) {
        FreeLibrary(library.module);
        library.module = nullptr;
        return nullptr;
    }
    return &library;
}

std::wstring Wide(const std::string& text, UINT codePage) {
    const int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string Narrow(const std::wstring& wide, UINT codePage, bool* lossy = nullptr) {
    BOOL defaulted = FALSE;
    BOOL* used = codePage == CP_UTF8 ? nullptr : &defaulted;
    const int length = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                           nullptr, used);
    std::string text(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length, nullptr, used);
    if (lossy) *lossy = defaulted != FALSE;
    return text;
}

std::string Ansi(const std::string& utf8, bool* lossy = nullptr) { return Narrow(Wide(utf8, CP_UTF8), CP_ACP, lossy); }

// An ANSI field cut as the source cuts it (a double-byte character kept whole or left out), then
// in UTF-8.
std::string AnsiFieldToUtf8(std::string_view text, size_t maxBytes) {
    size_t length = 0;
    while (length < text.size()) {
        const size_t character =
            IsDBCSLeadByte(static_cast<BYTE>(text[length])) && length + 1 < text.size() ? 2 : 1;
        if (length + character > maxBytes) break;
        length += character;
    }
    return Narrow(Wide(std::string(text.substr(0, length)), CP_ACP), CP_UTF8);
}

// The address as the library takes it: an IPv6 address in brackets.
std::string AddressText(const DeviceAddress& device) {
    return device.host.find(':') != std::string::npos ? "[" + device.host + "]" : device.host;
}

// Replays the steps into the library's message; an element that cannot be opened is passed
// over with everything inside it.
void BuildMessage(const Library& l, ProtocolHandle message, const StorageRequest& steps) {
    int skipped = 0;
    for (const RequestStep& step : steps) {
        if (skipped > 0) {
            skipped += step.kind == RequestStep::Begin ? 1 : step.kind == RequestStep::End ? -1 : 0;
            continue;
        }
        switch (step.kind) {
        case RequestStep::Begin:
            if (!l.MsgBeginElement(message, step.tag)) skipped = 1;
            break;
        case RequestStep::End: l.MsgEndElement(message); break;
        case RequestStep::Text: l.MsgAddText(message, step.tag, Ansi(step.text).c_str()); break;
        case RequestStep::Int: l.MsgAddInt(message, step.tag, step.number); break;
        case RequestStep::Id: l.MsgAddId(message, step.tag, step.id, 8); break;
        }
    }
}

}  // namespace

uint32_t SendCommand(const DeviceAddress& device, const StorageRequest& steps, const LinkTimeouts& timeouts,
                     StorageAnswer& answer) {
    const Library* library = TheLibrary();
    if (!library) return LinkNoLibrary;
    const Library& l = *library;
    const ProtocolHandle message = l.MsgCreate(StorageElementNames);
    if (!message) return ERROR_NOT_ENOUGH_MEMORY;
    l.MsgInit(message);
    l.MsgSetMode(message, MessageModeXmlRequest);
    const ProtocolHandle connection = l.ConnOpen(AddressText(device).c_str());
    uint32_t result = ERROR_NOT_ENOUGH_MEMORY;
    if (connection) {
        l.ConnSetTimeouts(connection, timeouts.connect, timeouts.send, timeouts.receive, timeouts.total);
        BuildMessage(l, message, steps);
        if (l.ConnSendMessage(connection, device.port, StorageRequestPath, message)) {
            answer.cut = AnsiFieldToUtf8;
            for (ProtocolHandle element = l.MsgFirstElement(message, AnyTag); element;
                 element = l.MsgNextElement(message, AnyTag)) {
                const char* text = l.ElemGetText(element);
                if (!answer.Take(l.ElemGetTag(element), text ? text : "")) break;
            }
            result = LinkOk;
        } else {
            result = l.ConnGetLastError(connection);
        }
        l.ConnClose(connection);
    }
    l.MsgFree(message);
    return result;
}

uint32_t FetchFile(const DeviceAddress& device, const std::string& devicePath, const std::string& localPath) {
    const Library* library = TheLibrary();
    if (!library) return LinkNoLibrary;
    bool lossy = false;
    const std::string local = Ansi(localPath, &lossy);
    if (lossy) return LinkBadFileName;
    const Library& l = *library;
    const ProtocolHandle connection = l.ConnOpen(AddressText(device).c_str());
    if (!connection) return ERROR_NOT_ENOUGH_MEMORY;
    l.ConnSetTimeouts(connection, CommandTimeouts.connect, CommandTimeouts.send, CommandTimeouts.receive,
                      CommandTimeouts.total);
    uint32_t result = LinkOk;
    if (!l.ConnDownloadFile(connection, device.port, devicePath.c_str(), 0, local.c_str(), 0))
        result = l.ConnGetLastError(connection);
    l.ConnClose(connection);
    return result;
}
