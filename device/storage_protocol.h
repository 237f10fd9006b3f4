// The storage commands' side of the device protocol in portable form, for programs that reach
// the storage without the source's window and tables (qrvbox): the element names, the request
// trees of the user list, the folder list, the document list and the deletion as a list of
// steps that any message builder can replay, and the walk of an answer's elements into records
// with the bounds and rules of the source's tables (capacities, fields cut to their size, a CODE
// other than 600 or a full table ending the walk). No windows.h: texts are bytes of whatever
// coding the answer's reader hands over; the caller says how a field is cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The element names, in tag order, ending with a null entry; the same list the source hands to
// the protocol library. Requests and answers use "STRAGE" (23), never "STORAGE" (47).
extern const char* const StorageElementNames[49];
constexpr size_t StorageElementCount = 48;

enum StorageElement {
    ElementJob = 0,
    ElementCommand = 1,
    ElementType = 2,
    ElementParam = 3,
    ElementCode = 4,
    ElementFolderId = 6,
    ElementPassword = 7,
    ElementFolderName = 8,
    ElementTimestamp = 11,
    ElementPages = 12,
    ElementDocumentId = 13,
    ElementUserId = 14,
    ElementStatus = 15,
    ElementImagePath = 16,
    ElementSubject = 17,
    ElementUserHandle = 18,
    ElementOwner = 20,
    ElementDocType = 21,
    ElementServer = 22,
    ElementStrage = 23,
    ElementUserName = 40,
    ElementUser = 41,
};

// The tables' capacities and the bytes each text field keeps (one less than the field's size).
constexpr size_t UserCapacity = 100;
constexpr size_t FolderCapacity = 100;
constexpr size_t DocumentCapacity = 10005;
constexpr size_t UserIdBytes = 3;
constexpr size_t UserNameBytes = 30;
constexpr size_t FolderNameBytes = 40;
constexpr size_t TimestampBytes = 19;
constexpr size_t DocTypeBytes = 13;
constexpr size_t StatusBytes = 10;
constexpr size_t ImagePathBytes = 40;
constexpr size_t SubjectBytes = 40;

constexpr int32_t CodeSuccess = 600;
constexpr char StorageRequestPath[] = "/upcmd.cgi";

// One step of building a request: open an element, close the innermost one, or add a leaf.
struct RequestStep {
    enum Kind : uint8_t { Begin, End, Text, Int, Id } kind;
    int tag = 0;
    std::string text;     // Text
    int32_t number = 0;   // Int
    uint32_t id = 0;      // Id, written with 8 digits
};
using StorageRequest = std::vector<RequestStep>;

// An empty password sends no PASSWORD element.
StorageRequest UserListRequest();
StorageRequest FolderListRequest(int32_t userHandle, std::string_view password);
StorageRequest DocumentListRequest(int32_t userHandle, std::string_view password, uint32_t folderId);
StorageRequest DeleteRequest(int32_t userHandle, std::string_view password, uint32_t documentId);

struct UserEntry {
    int32_t handle = 0;
    std::string id;
    std::string name;
};

struct FolderEntry {
    uint32_t id = 0;
    std::string name;
};

struct DocumentEntry {
    uint32_t id = 0;
    uint32_t folderId = 0;
    std::string folderName;
    std::string timestamp;
    int32_t owner = 0;
    int32_t pages = 0;
    std::string type;
    std::string status;
    std::string imagePath;  // the device path of the document's TIFF file
    std::string subject;
};

// The longest part of text that a field keeping at most maxBytes holds, cut at a character
// boundary of the text's coding.
using FieldCut = std::string (*)(std::string_view text, size_t maxBytes);
// The cut for UTF-8 texts.
std::string CutUtf8Field(std::string_view text, size_t maxBytes);

enum class StorageCommand { Users, Folders, Documents, Delete };

// An answer walked element by element, in document order, into the command's records.
struct StorageAnswer {
    StorageCommand command = StorageCommand::Users;
    FieldCut cut = CutUtf8Field;
    bool going = true;       // the walk's continue flag
    bool sawCode = false;
    int32_t lastCode = 0;    // the last CODE's number when one came
    bool tableFull = false;  // a record arrived after the table held its capacity
    std::vector<UserEntry> users;
    std::vector<FolderEntry> folders;
    std::vector<DocumentEntry> documents;

    // Takes the next element (tag -1 for a name not in the list); false once the walk has ended.
    bool Take(int tag, std::string_view text);
    // The deletion's result: the last CODE was 600.
    bool Deleted() const { return sawCode && lastCode == CodeSuccess; }
    // A CODE other than 600 came (the records read before it stay).
    bool Refused() const { return sawCode && lastCode != CodeSuccess; }
};

// The user handle of the first user whose id matches the beginning of text over at most three
// bytes, stopping at the end of either (an id shorter than three bytes matches only a text equal
// to it); 0 when none matches.
int32_t FindUserHandle(const std::vector<UserEntry>& users, std::string_view text);

// The device's own text for a result code of the table the source shows, or null.
const char* DeviceCodeText(int32_t code);
