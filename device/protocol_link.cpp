#include "device/protocol_link.h"

#include <cstring>

#include "source/source_state.h"

namespace {

template <typename Proc>
bool Resolve(HMODULE module, WORD ordinal, Proc& proc)
{
    proc = reinterpret_cast<Proc>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal)));
    return proc != nullptr;
}

bool ResolveAll(ProtocolLibrary& l)
{
    HMODULE m = l.module;
    return Resolve(m, OrdinalMsgCreate, l.MsgCreate) && Resolve(m, OrdinalMsgFree, l.MsgFree) &&
           Resolve(m, OrdinalMsgInit, l.MsgInit) && Resolve(m, OrdinalMsgSetMode, l.MsgSetMode) &&
           Resolve(m, OrdinalMsgBeginElement, l.MsgBeginElement) &&
           Resolve(m, OrdinalMsgEndElement, l.MsgEndElement) && Resolve(m, OrdinalMsgAddText, l.MsgAddText) &&
           Resolve(m, OrdinalMsgAddInt, l.MsgAddInt) && Resolve(m, OrdinalMsgAddId, l.MsgAddId) &&
           Resolve(m, OrdinalMsgFirstElement, l.MsgFirstElement) &&
           Resolve(m, OrdinalMsgNextElement, l.MsgNextElement) && Resolve(m, OrdinalElemGetTag, l.ElemGetTag) &&
           Resolve(m, OrdinalElemGetText, l.ElemGetText) && Resolve(m, OrdinalElemGetInt, l.ElemGetInt) &&
           Resolve(m, OrdinalElemGetId, l.ElemGetId) && Resolve(m, OrdinalConnOpen, l.ConnOpen) &&
           Resolve(m, OrdinalConnClose, l.ConnClose) && Resolve(m, OrdinalConnGetLastError, l.ConnGetLastError) &&
           Resolve(m, OrdinalConnDownloadFile, l.ConnDownloadFile) &&
           Resolve(m, OrdinalConnSendMessage, l.ConnSendMessage) &&
           Resolve(m, OrdinalConnSetWaitWindow, l.ConnSetWaitWindow) &&
           Resolve(m, OrdinalConnSetTimeouts, l.ConnSetTimeouts);
}

}  // namespace

int LoadProtocolLibrary(ProtocolLibrary& library)
{
    memset(&library, 0, sizeof library);
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(OwnModule, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return 0;
    char* name = strrchr(path, '\\');
    if (!name)
        return 0;
    size_t folder = static_cast<size_t>(name - path + 1);
    if (folder + sizeof ProtocolLibraryName > sizeof path)
        return 0;
    memcpy(path + folder, ProtocolLibraryName, sizeof ProtocolLibraryName);
    return LoadProtocolLibraryFrom(path, library);
}

int LoadProtocolLibraryFrom(const char* path, ProtocolLibrary& library)
{
    memset(&library, 0, sizeof library);
    // A full path: the loader takes this file and searches nowhere else.
    library.module = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!library.module)
        return 0;
    if (!ResolveAll(library)) {
        FreeProtocolLibrary(library);
        return 0;
    }
    return 1;
}

void FreeProtocolLibrary(ProtocolLibrary& library)
{
    if (library.module)
        FreeLibrary(library.module);
    memset(&library, 0, sizeof library);
}
