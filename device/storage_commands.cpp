#include "device/storage_commands.h"

#include <cstdio>
#include <cstring>

#include "device/config_store.h"
#include "device/message_presentation.h"
#include "device/protocol_link.h"
#include "source/source_state.h"

const char* const TagTable[49] = {
    "JOB", "COMMAND", "TYPE", "PARAM", "CODE", "ATTRIBUTE", "FOLDERID", "PASSWORD", "FOLDERNAME", "FILEID",
    "FILENAME", "TIMESTAMP", "PAGES", "DOCUMENTID", "USERID", "STATUS", "IMAGEPATH", "SUBJECT", "USERHANDLE",
    "DOCUMENT", "OWNER", "DOCTYPE", "SERVER", "STRAGE", "XPIXEL", "YPIXEL", "XRESOLUTION", "YRESOLUTION", "PAGE",
    "RESOLUTION", "DOCSIZE", "SCALING", "DENSITY", "ERRORCODE", "ERRORWORDING", "FILE", "FOLDER", "DATASIZE",
    "PAGENUMBER", "ROOTNAME", "USERNAME", "USER", "PACKET", "MODE", "HPIXEL", "HRESOLUTION", "SCAN", "STORAGE",
    nullptr,
};

namespace {

constexpr char RequestPath[] = "/upcmd.cgi";
constexpr int WaitWindowDelay = 60;
constexpr UINT ConnectingTextId = 96;
constexpr UINT CancelLabelId = 98;
constexpr int UnableToConnect = 329;
constexpr int UnableToDownload = 339;

// The protocol library is loaded by the first request and kept until the source unloads: a
// library freed after every request leaves what each request set up behind, and the
// application's memory grows with every request.
ProtocolLibrary StorageLibrary;

bool HoldStorageLibrary(ProtocolLibrary& library)
{
    if (!StorageLibrary.module && !LoadProtocolLibrary(StorageLibrary))
        return false;
    library = StorageLibrary;
    return true;
}

// What one request holds while it runs.
struct RequestFrame {
    ProtocolLibrary library;
    bool loaded;
    ProtocolHandle message;
    ProtocolHandle connection;
    HCURSOR previousCursor;
};

struct WaitTexts {
    char caption[MAX_PATH];
    char text[MAX_PATH];
    char button[MAX_PATH];
};

void LoadWaitTexts(WaitTexts& texts)
{
    ReadDriverName(texts.caption, sizeof texts.caption);
    LoadResourceString(ConnectingTextId, texts.text, sizeof texts.text);
    LoadResourceString(CancelLabelId, texts.button, sizeof texts.button);
}

// The library, the wait cursor, a connection with its wait window; the message too when asked.
void OpenFrame(RequestFrame& frame, const char* address, bool withMessage)
{
    memset(&frame, 0, sizeof frame);
    frame.previousCursor = SetCursor(LoadCursor(nullptr, IDC_WAIT));
    frame.loaded = HoldStorageLibrary(frame.library);
    if (!frame.loaded)
        return;
    const ProtocolLibrary& l = frame.library;
    if (withMessage) {
        frame.message = l.MsgCreate(TagTable);
        l.MsgInit(frame.message);
        l.MsgSetMode(frame.message, MessageModeXmlRequest);
    }
    frame.connection = l.ConnOpen(address);
    WaitTexts texts;
    LoadWaitTexts(texts);
    l.ConnSetWaitWindow(frame.connection, WaitWindowDelay, texts.caption, texts.text, texts.button);
}

void CloseFrame(RequestFrame& frame)
{
    if (frame.loaded) {
        if (frame.message)
            frame.library.MsgFree(frame.message);
        frame.library.ConnClose(frame.connection);
    }
    SetCursor(frame.previousCursor);
}

// A library that could not be loaded fails like a connection that could not be made.
bool UserCancelled(const RequestFrame& frame)
{
    return frame.loaded && frame.library.ConnGetLastError(frame.connection) == ErrorCancelled;
}

// Element helpers that build nothing when the library is missing.
bool Begin(RequestFrame& frame, int tag) { return frame.loaded && frame.library.MsgBeginElement(frame.message, tag); }
void End(RequestFrame& frame) { frame.library.MsgEndElement(frame.message); }
void AddText(RequestFrame& frame, int tag, const char* text) { frame.library.MsgAddText(frame.message, tag, text); }
void AddInt(RequestFrame& frame, int tag, int32_t value) { frame.library.MsgAddInt(frame.message, tag, value); }
void AddId(RequestFrame& frame, int tag, uint32_t value) { frame.library.MsgAddId(frame.message, tag, value, 8); }

// OWNER, and PASSWORD only when one was entered.
void AddLogon(RequestFrame& frame)
{
    AddInt(frame, TagOwner, UserHandle);
    if (LogonPassword[0])
        AddText(frame, TagPassword, LogonPassword);
}

// Sends the request; a failure tells the user unless the user cancelled.
bool Send(RequestFrame& frame)
{
    if (frame.loaded && frame.library.ConnSendMessage(frame.connection, static_cast<int>(ReadServerPort()),
                                                      RequestPath, frame.message))
        return true;
    if (!UserCancelled(frame))
        SetPendingMessage(UnableToConnect);
    PresentPendingMessage();
    return false;
}

// The walk of an answer: the handler acts on each element and may end the walk.
struct Walk {
    RequestFrame& frame;
    int continueFlag = 1;
    int result = 0;

    const char* Text(ProtocolHandle element)
    {
        const char* text = frame.library.ElemGetText(element);
        return text ? text : "";
    }
    int32_t Int(ProtocolHandle element)
    {
        int32_t value = 0;
        frame.library.ElemGetInt(element, &value);
        return value;
    }
    uint32_t Id(ProtocolHandle element)
    {
        uint32_t value = 0;
        frame.library.ElemGetId(element, &value);
        return value;
    }
    void Code(ProtocolHandle element)
    {
        SetPendingMessage(Int(element));
        continueFlag = PresentPendingMessage();
    }
    // A record element: the next slot of the table, zero-filled, or null when the table is full.
    template <typename Record>
    Record* StartRecord(Record* table, int capacity, int& count)
    {
        if (count >= capacity) {
            continueFlag = 0;
            return nullptr;
        }
        Record* record = &table[++count - 1];
        memset(record, 0, sizeof *record);
        result = 1;
        return record;
    }

    template <typename Handler>
    void Run(int& count, Handler handle)
    {
        const ProtocolLibrary& l = frame.library;
        ProtocolHandle element = l.MsgFirstElement(frame.message, AnyTag);
        if (element)
            count = 0;
        while (element && continueFlag) {
            handle(element, l.ElemGetTag(element));
            element = l.MsgNextElement(frame.message, AnyTag);
        }
    }
};

// Copies at most size - 1 bytes, cut at a character boundary of the ANSI code page (a
// double-byte character is kept whole or left out); the field stays zero-terminated.
template <size_t Size>
void CopyField(char (&field)[Size], const char* text)
{
    size_t length = 0;
    while (text[length]) {
        size_t character = IsDBCSLeadByte(static_cast<BYTE>(text[length])) && text[length + 1] ? 2 : 1;
        if (length + character > Size - 1)
            break;
        length += character;
    }
    memcpy(field, text, length);
    field[length] = '\0';
}

bool ContainsFolder(const char* documentType, size_t size)
{
    char type[16] = {};
    memcpy(type, documentType, size < sizeof type ? size : sizeof type - 1);
    return strstr(type, "FOLDER") != nullptr;
}

}  // namespace

void ReleaseStorageLibrary()
{
    FreeProtocolLibrary(StorageLibrary);
}

int32_t FindUserHandle(const char* text)
{
    if (!text)
        return 0;
    for (int i = 0; i < UserCount && i < UserTableSize; ++i)
        if (strncmp(UserTable[i].userId, text, 3) == 0)
            return UserTable[i].userHandle;
    return 0;
}

int GetUserIds()
{
    UserCount = -1;
    char address[MAX_PATH];
    ReadServerAddress(address);
    if (!address[0])
        return 0;
    RequestFrame frame;
    OpenFrame(frame, address, true);
    if (Begin(frame, TagServer)) {
        AddText(frame, TagCommand, "GETUSERID");
        End(frame);
    }
    Walk walk{frame};
    if (Send(frame)) {
        UserRecord* user = nullptr;
        walk.Run(UserCount, [&](ProtocolHandle element, int tag) {
            switch (tag) {
            case TagCode:
                walk.Code(element);
                break;
            case TagUser:
                user = walk.StartRecord(UserTable, UserTableSize, UserCount);
                break;
            case TagUserHandle:
                if (user)
                    user->userHandle = walk.Int(element);
                break;
            case TagUserId:
                if (user)
                    CopyField(user->userId, walk.Text(element));
                break;
            case TagUserName:
                if (user)
                    CopyField(user->userName, walk.Text(element));
                break;
            }
        });
    }
    UserHandle = FindUserHandle(SelectedUser);
    CloseFrame(frame);
    return walk.result;
}

int ListFolders()
{
    FolderCount = -1;
    char address[MAX_PATH];
    ReadServerAddress(address);
    if (!address[0] || UserHandle == 0)
        return 0;
    RequestFrame frame;
    OpenFrame(frame, address, true);
    if (Begin(frame, TagJob)) {
        AddText(frame, TagCommand, "LIST");
        AddText(frame, TagType, "STRAGE");
        if (Begin(frame, TagParam)) {
            if (Begin(frame, TagStrage)) {
                AddText(frame, TagDocType, "FOLDER");
                AddLogon(frame);
                End(frame);
            }
            End(frame);
        }
        End(frame);
    }
    Walk walk{frame};
    if (Send(frame)) {
        FolderRecord* folder = nullptr;
        walk.Run(FolderCount, [&](ProtocolHandle element, int tag) {
            switch (tag) {
            case TagCode:
                walk.Code(element);
                break;
            case TagStrage:
                folder = walk.StartRecord(FolderTable, FolderTableSize, FolderCount);
                break;
            case TagFolderId:
                if (folder)
                    folder->folderId = walk.Id(element);
                break;
            case TagFolderName:
                if (folder)
                    CopyField(folder->folderName, walk.Text(element));
                break;
            }
        });
    }
    CloseFrame(frame);
    return walk.result;
}

int ListDocuments(int folderIndex)
{
    DocumentCount = -1;
    char address[MAX_PATH];
    ReadServerAddress(address);
    if (!address[0] || UserHandle == 0)
        return 0;
    // An index the folder table does not hold names no folder: nothing to ask for.
    if (folderIndex < 0 || folderIndex >= FolderCount || folderIndex >= FolderTableSize)
        return 0;
    RequestFrame frame;
    OpenFrame(frame, address, true);
    if (frame.loaded)
        frame.library.ConnSetTimeouts(frame.connection, 10000, 0, 300000, 6000000);
    if (Begin(frame, TagJob)) {
        AddText(frame, TagCommand, "LIST");
        AddText(frame, TagType, "STRAGE");
        if (Begin(frame, TagParam)) {
            if (Begin(frame, TagStrage)) {
                AddLogon(frame);
                AddId(frame, TagFolderId, FolderTable[folderIndex].folderId);
                End(frame);
            }
            End(frame);
        }
        End(frame);
    }
    Walk walk{frame};
    if (Send(frame)) {
        DocumentRecord* document = nullptr;
        walk.Run(DocumentCount, [&](ProtocolHandle element, int tag) {
            if (tag == TagCode) {
                walk.Code(element);
                return;
            }
            if (tag == TagStrage) {
                document = walk.StartRecord(DocumentTable, DocumentTableSize, DocumentCount);
                return;
            }
            if (!document)
                return;
            switch (tag) {
            case TagDocumentId: document->documentId = walk.Id(element); break;
            case TagFolderId: document->folderId = walk.Id(element); break;
            case TagOwner: document->owner = walk.Int(element); break;
            case TagPages: document->pages = walk.Int(element); break;
            case TagFolderName: CopyField(document->folderName, walk.Text(element)); break;
            case TagTimestamp: CopyField(document->timestamp, walk.Text(element)); break;
            case TagDocType: CopyField(document->documentType, walk.Text(element)); break;
            case TagStatus: CopyField(document->status, walk.Text(element)); break;
            case TagImagePath: CopyField(document->imagePath, walk.Text(element)); break;
            case TagSubject: CopyField(document->subject, walk.Text(element)); break;
            }
        });
    }
    CloseFrame(frame);
    return walk.result;
}

int DeleteDocument(uint32_t documentId)
{
    char address[MAX_PATH];
    ReadServerAddress(address);
    if (!address[0] || UserHandle == 0)
        return 0;
    RequestFrame frame;
    OpenFrame(frame, address, true);
    if (Begin(frame, TagJob)) {
        AddText(frame, TagCommand, "DELETE");
        AddText(frame, TagType, "STRAGE");
        if (Begin(frame, TagParam)) {
            if (Begin(frame, TagStrage)) {
                AddId(frame, TagDocumentId, documentId);
                AddLogon(frame);
                End(frame);
            }
            End(frame);
        }
        End(frame);
    }
    // The result is what the last CODE left: 1 only for 600.
    int deleted = 0;
    if (Send(frame)) {
        Walk walk{frame};
        int elements = -1;
        walk.Run(elements, [&](ProtocolHandle element, int tag) {
            if (tag == TagCode) {
                walk.Code(element);
                deleted = walk.continueFlag;
            }
        });
    }
    CloseFrame(frame);
    return deleted;
}

int DownloadDocument(DocumentRecord record)
{
    char address[MAX_PATH];
    ReadServerAddress(address);
    if (!address[0])
        return 0;
    if (ContainsFolder(record.documentType, sizeof record.documentType))
        return 0;
    record.imagePath[sizeof record.imagePath - 1] = '\0';

    // Without a work directory the file would land wherever the application's current folder
    // is, and stay there.
    char path[MAX_PATH];
    int length = snprintf(path, sizeof path, "%s%08X.tif", WorkDirectory, static_cast<unsigned>(record.documentId));
    if (!WorkDirectory[0] || length < 0 || length >= static_cast<int>(sizeof path)) {
        SetPendingMessage(UnableToDownload);
        PresentPendingMessage();
        return 0;
    }

    HANDLE present = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                 nullptr);
    if (present != INVALID_HANDLE_VALUE) {
        CloseHandle(present);
        strcpy(CurrentDocumentPath, path);
        return 1;
    }

    RequestFrame frame;
    OpenFrame(frame, address, false);
    int result = 0;
    if (frame.loaded && frame.library.ConnDownloadFile(frame.connection, static_cast<int>(ReadServerPort()),
                                                       record.imagePath, 0, path, 0)) {
        strcpy(CurrentDocumentPath, path);
        result = 1;
    } else {
        if (!UserCancelled(frame))
            SetPendingMessage(UnableToDownload);
        PresentPendingMessage();
        DeleteFileA(path);
    }
    CloseFrame(frame);
    return result;
}
