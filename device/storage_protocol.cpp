#include "device/storage_protocol.h"

#include <cstring>

#include "device/protocol_codec.h"

const char* const StorageElementNames[49] = {
    "JOB", "COMMAND", "TYPE", "PARAM", "CODE", "ATTRIBUTE", "FOLDERID", "PASSWORD", "FOLDERNAME", "FILEID",
    "FILENAME", "TIMESTAMP", "PAGES", "DOCUMENTID", "USERID", "STATUS", "IMAGEPATH", "SUBJECT", "USERHANDLE",
    "DOCUMENT", "OWNER", "DOCTYPE", "SERVER", "STRAGE", "XPIXEL", "YPIXEL", "XRESOLUTION", "YRESOLUTION", "PAGE",
    "RESOLUTION", "DOCSIZE", "SCALING", "DENSITY", "ERRORCODE", "ERRORWORDING", "FILE", "FOLDER", "DATASIZE",
    "PAGENUMBER", "ROOTNAME", "USERNAME", "USER", "PACKET", "MODE", "HPIXEL", "HRESOLUTION", "SCAN", "STORAGE",
    nullptr,
};

namespace {

RequestStep Begin(int tag) { return {RequestStep::Begin, tag, {}, 0, 0}; }
RequestStep End() { return {RequestStep::End, 0, {}, 0, 0}; }
RequestStep Text(int tag, std::string_view text) { return {RequestStep::Text, tag, std::string(text), 0, 0}; }
RequestStep Int(int tag, int32_t number) { return {RequestStep::Int, tag, {}, number, 0}; }
RequestStep Id(int tag, uint32_t id) { return {RequestStep::Id, tag, {}, 0, id}; }

// JOB { COMMAND, TYPE "STRAGE", PARAM { STRAGE { the fields } } }
StorageRequest StorageJob(const char* command, const std::vector<RequestStep>& fields) {
    StorageRequest request = {Begin(ElementJob), Text(ElementCommand, command), Text(ElementType, "STRAGE"),
                              Begin(ElementParam), Begin(ElementStrage)};
    request.insert(request.end(), fields.begin(), fields.end());
    request.insert(request.end(), {End(), End(), End()});
    return request;
}

// OWNER, and PASSWORD only when one was entered.
void AddLogon(std::vector<RequestStep>& fields, int32_t userHandle, std::string_view password) {
    fields.push_back(Int(ElementOwner, userHandle));
    if (!password.empty()) fields.push_back(Text(ElementPassword, password));
}

int32_t Number(std::string_view text) {
    int32_t value = 0;
    return ParseInt(text, value) ? value : 0;
}

uint32_t Identifier(std::string_view text) {
    uint32_t value = 0;
    return ParseId(text, value) ? value : 0;
}

// A record element: the next record, or null (and the walk ends) when the table is full.
template <typename Record>
Record* StartRecord(StorageAnswer& answer, std::vector<Record>& table, size_t capacity) {
    if (table.size() >= capacity) {
        answer.tableFull = true;
        answer.going = false;
        return nullptr;
    }
    return &table.emplace_back();
}

template <typename Record>
Record* Newest(std::vector<Record>& table) {
    return table.empty() ? nullptr : &table.back();
}

void TakeUser(StorageAnswer& answer, int tag, std::string_view text) {
    if (tag == ElementUser) {
        StartRecord(answer, answer.users, UserCapacity);
        return;
    }
    UserEntry* user = Newest(answer.users);
    if (!user) return;
    switch (tag) {
    case ElementUserHandle: user->handle = Number(text); break;
    case ElementUserId: user->id = answer.cut(text, UserIdBytes); break;
    case ElementUserName: user->name = answer.cut(text, UserNameBytes); break;
    }
}

void TakeFolder(StorageAnswer& answer, int tag, std::string_view text) {
    if (tag == ElementStrage) {
        StartRecord(answer, answer.folders, FolderCapacity);
        return;
    }
    FolderEntry* folder = Newest(answer.folders);
    if (!folder) return;
    switch (tag) {
    case ElementFolderId: folder->id = Identifier(text); break;
    case ElementFolderName: folder->name = answer.cut(text, FolderNameBytes); break;
    }
}

void TakeDocument(StorageAnswer& answer, int tag, std::string_view text) {
    if (tag == ElementStrage) {
        StartRecord(answer, answer.documents, DocumentCapacity);
        return;
    }
    DocumentEntry* document = Newest(answer.documents);
    if (!document) return;
    switch (tag) {
    case ElementDocumentId: document->id = Identifier(text); break;
    case ElementFolderId: document->folderId = Identifier(text); break;
    case ElementOwner: document->owner = Number(text); break;
    case ElementPages: document->pages = Number(text); break;
    case ElementFolderName: document->folderName = answer.cut(text, FolderNameBytes); break;
    case ElementTimestamp: document->timestamp = answer.cut(text, TimestampBytes); break;
    case ElementDocType: document->type = answer.cut(text, DocTypeBytes); break;
    case ElementStatus: document->status = answer.cut(text, StatusBytes); break;
    case ElementImagePath: document->imagePath = answer.cut(text, ImagePathBytes); break;
    case ElementSubject: document->subject = answer.cut(text, SubjectBytes); break;
    }
}

}  // namespace

StorageRequest UserListRequest() {
    return {Begin(ElementServer), Text(ElementCommand, "GETUSERID"), End()};
}

StorageRequest FolderListRequest(int32_t userHandle, std::string_view password) {
    std::vector<RequestStep> fields = {Text(ElementDocType, "FOLDER")};
    AddLogon(fields, userHandle, password);
    return StorageJob("LIST", fields);
}

StorageRequest DocumentListRequest(int32_t userHandle, std::string_view password, uint32_t folderId) {
    std::vector<RequestStep> fields;
    AddLogon(fields, userHandle, password);
    fields.push_back(Id(ElementFolderId, folderId));
    return StorageJob("LIST", fields);
}

StorageRequest DeleteRequest(int32_t userHandle, std::string_view password, uint32_t documentId) {
    std::vector<RequestStep> fields = {Id(ElementDocumentId, documentId)};
    AddLogon(fields, userHandle, password);
    return StorageJob("DELETE", fields);
}

std::string CutUtf8Field(std::string_view text, size_t maxBytes) {
    return std::string(CutUtf8(text, maxBytes));
}

bool StorageAnswer::Take(int tag, std::string_view text) {
    if (!going) return false;
    if (tag == ElementCode) {
        sawCode = true;
        lastCode = Number(text);
        going = lastCode == CodeSuccess;
        return going;
    }
    switch (command) {
    case StorageCommand::Users: TakeUser(*this, tag, text); break;
    case StorageCommand::Folders: TakeFolder(*this, tag, text); break;
    case StorageCommand::Documents: TakeDocument(*this, tag, text); break;
    case StorageCommand::Delete: break;
    }
    return going;
}

int32_t FindUserHandle(const std::vector<UserEntry>& users, std::string_view text) {
    const std::string wanted(text);
    for (const UserEntry& user : users)
        if (std::strncmp(user.id.c_str(), wanted.c_str(), 3) == 0) return user.handle;
    return 0;
}

const char* DeviceCodeText(int32_t code) {
    struct CodeText {
        int32_t code;
        const char* text;
    };
    static const CodeText Texts[] = {
        {600, "OK"},
        {800, "Invalid command.(Error Code:800)"},
        {801, "Unable to send the document,  because there is not enough memory.(Error Code:801)"},
        {802, "Unable to printout the document,  because there is not enough memory.(Error Code:802)"},
        {803, "Unable to save the document,  because there is not enough memory.(Error Code:803)"},
        {804, "This document does not exist.(Error Code:804)"},
        {805, "The designated job does not exist.(Error Code:805)"},
        {807, "Authentication failed.(Error Code:807)"},
        {808, "The PATH does not exist.(Error Code:808)"},
        {809, "The affected document does not exist.(Error Code:809)"},
        {810, "Unable to initialize. (Error Code:810)"},
        {811, "No user is registered.(Error Code:811)"},
        {812, "No sender information is registered.(Error Code:812)"},
        {813, "Unable to get the job number.(Error Code:813)"},
        {814, "Unable to get the correct log.(Error Code:814)"},
        {815, "Unable to send the job, because there is not enough place in job queue.(Error Code:815)"},
        {816, "The condition is unable to delete files.(Error Code:816)"},
    };
    for (const CodeText& entry : Texts)
        if (entry.code == code) return entry.text;
    return nullptr;
}
